# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: config
short_description: Makes a Zarvik cash register hold the settings of a configuration file
version_added: 1.0.0
description:
  - Compares the register's options, departments, receipt header and footer
    and operators with a configuration text file of C(zarvikctl config
    export) and writes exactly the values that differ (C(zarvikctl config
    apply)). What the file does not mention stays as the register has it.
  - A file with any value the register cannot take (outside an option's
    interval, too long, a character the register cannot print, a department
    it does not have) fails the task, naming the lines, and nothing is
    written.
  - Before a write the register's values are kept as a backup profile in
    the C(bd) folder, as the window program keeps them (unless
    I(backup=false) or C([Backup] ENABLED=0) of C(ZarvikConfig.ini)).
extends_documentation_fragment:
  - zarvik.registers.register
options:
  src:
    description:
      - The configuration text file (UTF-8), on the managed machine.
    type: path
    required: true
  backup:
    description:
      - Keep the register's values as a backup profile before the write.
    type: bool
    default: true
attributes:
  check_mode:
    support: full
    details: Reads the register and reports what would change; writes nothing.
  diff_mode:
    support: full
    details: The differing values as before and after lines, C([section] key = value).
author:
  - ZarvikConfig developers
'''

EXAMPLES = r'''
- name: Every register of the shop gets the chain's settings
  zarvik.registers.config:
    src: /etc/zarvik/shop.conf
    port: 1
    serial: "{{ register_serial }}"
    chdir: /srv/kassa

# ansible-playbook shops.yml --check --diff shows what would change first.
'''

RETURN = r'''
changes:
  description: The values that differ (were written, or in check mode would be).
  returned: success
  type: list
  elements: dict
  contains:
    line:
      description: The line of the file.
      type: int
    section:
      description: options, departments, receipt or operators.
      type: str
    key:
      description: The key, as C(5), C(3.name), C(header.font).
      type: str
    from:
      description: The register's value, as the file writes it.
      type: str
    to:
      description: The file's value.
      type: str
  sample: [{"line": 12, "section": "departments", "key": "2.name", "from": "\"Доставка\"", "to": "\"Курьер\""}]
backup:
  description: The name of the backup profile kept before the write.
  returned: when something was written with a backup
  type: str
written:
  description: Register commands sent.
  returned: success
  type: int
serial:
  description: The register's serial number.
  returned: success
  type: str
messages:
  description: The messages of zarvikctl, each with its level and text.
  returned: always
  type: list
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zarvik.registers.plugins.module_utils.zarvikctl import (
    COMMON_ARGUMENTS, run_zarvikctl)


def diff_text(changes, side):
    return ''.join('[%s] %s = %s\n' % (c['section'], c['key'], c[side]) for c in changes)


def main():
    spec = dict(COMMON_ARGUMENTS)
    spec['src'] = dict(type='path', required=True)
    spec['backup'] = dict(type='bool', default=True)
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    src = module.params['src']
    if module.check_mode:
        report = run_zarvikctl(module, ['config', 'diff', src])
    else:
        report = run_zarvikctl(module, ['config', 'apply', src], [] if module.params['backup'] else ['--no-backup'])
    result = report.get('result', {})
    counts = report.get('counts', {})
    changes = result.get('changes', [])
    out = dict(changed=bool(changes) if module.check_mode else counts.get('written', 0) > 0,
               changes=changes, written=counts.get('written', 0), serial=result.get('serial', ''),
               messages=report.get('messages', []))
    if result.get('backup'):
        out['backup'] = result['backup']
    if module._diff and changes:
        out['diff'] = dict(before=diff_text(changes, 'from'), after=diff_text(changes, 'to'),
                           before_header='%s (%s)' % (result.get('serial', ''), 'register'),
                           after_header=src)
    module.exit_json(**out)


if __name__ == '__main__':
    main()
