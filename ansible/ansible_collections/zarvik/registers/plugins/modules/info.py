# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: info
short_description: What a Zarvik cash register is and holds
version_added: 1.0.0
description:
  - Connects to the register with C(zarvikctl info) and returns its serial
    number, model, version, work mode, date and time, its largest goods
    number and how many goods records it holds.
  - Never changes anything.
extends_documentation_fragment:
  - zarvik.registers.register
options:
  goods_count:
    description:
      - Count the goods records (a read of the whole goods table, which takes
        a while on a slow line and a big table). Without it C(goods_count) is
        not returned.
    type: bool
    default: true
attributes:
  check_mode:
    support: full
author:
  - ZarvikConfig developers
'''

EXAMPLES = r'''
- name: What hangs on the shop's first port
  zarvik.registers.info:
    port: 1
    speed: 19200
  register: kkm

- name: The register must be the one the inventory names
  zarvik.registers.info:
    port: 1
    serial: "{{ register_serial }}"
    goods_count: false
'''

RETURN = r'''
register:
  description: The register.
  returned: success
  type: dict
  contains:
    serial:
      description: Serial number.
      type: str
      sample: "002100457731"
    model:
      description: Model.
      type: str
    version:
      description: Version of the register's program.
      type: str
    mode:
      description: Work mode (AUTONOM, ON-LINE, OFF-LINE or FR).
      type: str
    date:
      description: The register's date, DD.MM.YY.
      type: str
    time:
      description: The register's time, HH:MM:SS.
      type: str
    max_goods:
      description: The largest goods number the register takes.
      type: int
    goods_count:
      description: The goods records it holds (with I(goods_count)).
      type: int
    port:
      description: The port number used.
      type: int
    speed:
      description: The speed used.
      type: int
    operators:
      description: Operators it can be programmed with (0, 4 or 8).
      type: int
messages:
  description: The messages of zarvikctl, each with its level (error, warning, info) and text.
  returned: always
  type: list
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zarvik.registers.plugins.module_utils.zarvikctl import (
    COMMON_ARGUMENTS, run_zarvikctl, run_zarvikctl_plain)


def count_goods(module):
    """The goods records of the register: a read of the table into a file."""
    path = os.path.join(module.tmpdir, 'goods.csv')
    run_zarvikctl_plain(module, ['goods', 'read-all'], ['--out', path])
    with open(path, 'rb') as f:
        lines = f.read().split(b'\n')
    # One record a line, its goods code first (a name never holds a line end).
    return sum(1 for line in lines if line.split(b';', 1)[0].strip().isdigit())


def main():
    spec = dict(COMMON_ARGUMENTS)
    spec['goods_count'] = dict(type='bool', default=True)
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    report = run_zarvikctl(module, ['info'])
    register = report.get('result', {}).get('register', {})
    messages = report.get('messages', [])
    if module.params['goods_count']:
        # The same register: the serial number just read is required now.
        if not module.params.get('serial'):
            module.params['serial'] = register.get('serial')
        register['goods_count'] = count_goods(module)
    module.exit_json(changed=False, register=register, messages=messages)


if __name__ == '__main__':
    main()
