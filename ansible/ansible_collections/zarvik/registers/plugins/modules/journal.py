# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: journal
short_description: Reads the journal of a Zarvik cash register into a file
version_added: 1.0.0
description:
  - Reads the register's electronic journal (C(zarvikctl journal read)) into
    a file on the managed machine, the receipts as text, or the receipts or
    their lines as CSV tables.
  - The file is replaced whole, and only when its content changes.
extends_documentation_fragment:
  - zarvik.registers.register
options:
  dest:
    description:
      - The file to write, on the managed machine.
    type: path
    required: true
  format:
    description:
      - C(text) the journal as the register prints it (code page 1251, CR LF,
        as C(zarvikctl journal read --out));
      - C(receipts) one row per receipt, C(lines) one row per operation, as
        CSV (code page 1251, semicolons; as C(--receipts) and C(--lines)).
    type: str
    choices: [text, receipts, lines]
    default: text
attributes:
  check_mode:
    support: full
    details: Reads the journal and reports whether the file would change; writes nothing.
  diff_mode:
    support: none
author:
  - ZarvikConfig developers
'''

EXAMPLES = r'''
- name: The day's journal of every register, kept on the shop's machine
  zarvik.registers.journal:
    dest: "/srv/kassa/journal-{{ register_serial }}.txt"
    port: 1
    serial: "{{ register_serial }}"

- name: The receipts as a table
  zarvik.registers.journal:
    dest: /srv/kassa/receipts.csv
    format: receipts
    port: 1
'''

RETURN = r'''
dest:
  description: The file.
  returned: success
  type: str
records:
  description: Journal records read.
  returned: success
  type: int
rows:
  description: Lines of the text, or rows of the table.
  returned: success
  type: int
messages:
  description: The messages of zarvikctl, each with its level and text.
  returned: always
  type: list
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zarvik.registers.plugins.module_utils.zarvikctl import (
    COMMON_ARGUMENTS, run_zarvikctl)

OPTION_OF_FORMAT = {'text': '--out', 'receipts': '--receipts', 'lines': '--lines'}


def read_bytes(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except (IOError, OSError):
        return None


def main():
    spec = dict(COMMON_ARGUMENTS)
    spec['dest'] = dict(type='path', required=True)
    spec['format'] = dict(type='str', choices=['text', 'receipts', 'lines'], default='text')
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    dest = module.params['dest']
    fmt = module.params['format']
    folder = os.path.dirname(os.path.abspath(dest))
    if not os.path.isdir(folder):
        module.fail_json(msg='the folder of dest %s does not exist' % dest)
    read = os.path.join(module.tmpdir, 'journal.csv' if fmt != 'text' else 'journal.txt')
    options = [OPTION_OF_FORMAT[fmt], read]
    report = run_zarvikctl(module, ['journal', 'read'], options)
    counts = report.get('counts', {})
    content = read_bytes(read)
    if content is None:
        module.fail_json(msg='zarvikctl wrote no file', messages=report.get('messages', []))
    changed = read_bytes(dest) != content
    if changed and not module.check_mode:
        module.atomic_move(read, dest)
    rows = counts.get('lines', 0) if fmt == 'text' else counts.get('receipts' if fmt == 'receipts' else 'operations', 0)
    module.exit_json(changed=changed, dest=dest, records=counts.get('records', 0), rows=rows,
                     messages=report.get('messages', []))


if __name__ == '__main__':
    main()
