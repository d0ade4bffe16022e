# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: goods
short_description: Writes a price list to a Zarvik cash register, only what differs
version_added: 1.0.0
description:
  - Reads a goods file (any format C(zarvikctl goods write) reads, CSV or
    dBASE), checks every row against what the register can hold, compares
    the rows with the register's records and writes only the records that
    differ and the codes the register does not hold yet (C(zarvikctl goods
    write)). The quantity sold the register counts is kept.
  - A file with a row the register cannot take (a code beyond its goods
    numbers, a section it does not have or has closed, a tax group it lacks,
    a wrong barcode, ...) fails the task naming every such row, and nothing
    is written.
  - The register must be in OFF-LINE mode for a write.
extends_documentation_fragment:
  - zarvik.registers.register
options:
  src:
    description:
      - The goods file, on the managed machine (C(.csv) or C(.dbf)).
    type: path
    required: true
  all:
    description:
      - Send every row of the file, whether the register holds it so or not.
    type: bool
    default: false
  backup:
    description:
      - Keep the register's records the write overwrites as a goods file in
        C(bd/backup) before the write.
    type: bool
    default: true
attributes:
  check_mode:
    support: full
    details: Checks the file and reports the counts and the codes that would be written; writes nothing.
  diff_mode:
    support: full
    details: The differing fields as before and after lines, C(CODE field = value) (C(1 цена = 54.90)).
author:
  - ZarvikConfig developers
'''

EXAMPLES = r'''
- name: The chain's price list on every register
  zarvik.registers.goods:
    src: /srv/kassa/prices.csv
    port: 1
    serial: "{{ register_serial }}"
    chdir: /srv/kassa
'''

RETURN = r'''
codes:
  description: The goods codes written (in check mode, that would be written).
  returned: success
  type: list
  elements: int
counts:
  description: >-
    C(send) rows to write, C(changed) of them the register holds with other
    values, C(new) codes it lacks, C(unchanged) rows left as they are,
    C(errors) and C(warnings) of the checks, and after a write C(written).
  returned: always
  type: dict
rows:
  description: Each row to write, with C(code), C(name), C(new) and the C(changes) of its fields.
  returned: success
  type: list
checks:
  description: Every row the checks refused or warned of, with its place, code, field, value and problem.
  returned: always
  type: list
backup:
  description: The goods file the register's records were kept in before the write.
  returned: when something was written with a backup
  type: str
messages:
  description: The messages of zarvikctl, each with its level and text.
  returned: always
  type: list
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zarvik.registers.plugins.module_utils.zarvikctl import (
    COMMON_ARGUMENTS, run_zarvikctl)


def diff_lines(rows):
    before = []
    after = []
    for row in rows:
        if row.get('new'):
            after.append('%d: новый товар «%s»\n' % (row['code'], row.get('name', '')))
            continue
        for change in row.get('changes', []):
            before.append('%d %s = %s\n' % (row['code'], change['title'], change['from']))
            after.append('%d %s = %s\n' % (row['code'], change['title'], change['to']))
    return ''.join(before), ''.join(after)


def main():
    spec = dict(COMMON_ARGUMENTS)
    spec['src'] = dict(type='path', required=True)
    spec['all'] = dict(type='bool', default=False)
    spec['backup'] = dict(type='bool', default=True)
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    src = module.params['src']
    options = []
    if module.params['all']:
        options.append('--all')
    if module.check_mode:
        options.append('--dry-run')
    elif not module.params['backup']:
        options.append('--no-backup')
    report = run_zarvikctl(module, ['goods', 'write', src], options)
    result = report.get('result', {})
    counts = report.get('counts', {})
    rows = result.get('rows', [])
    if module.check_mode:
        changed = counts.get('send', 0) > 0
    else:
        changed = counts.get('written', 0) > 0
    out = dict(changed=changed, codes=[r['code'] for r in rows], counts=counts, rows=rows,
               checks=result.get('checks', []), messages=report.get('messages', []))
    if result.get('backup'):
        out['backup'] = result['backup']
    if module._diff and rows:
        before, after = diff_lines(rows)
        out['diff'] = dict(before=before, after=after, before_header='%s (register)' % result.get('serial', ''),
                           after_header=src)
    module.exit_json(**out)


if __name__ == '__main__':
    main()
