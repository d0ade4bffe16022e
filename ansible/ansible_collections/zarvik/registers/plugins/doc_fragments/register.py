# -*- coding: utf-8 -*-
# The options of the register every module of zarvik.registers takes.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  port:
    description:
      - The number of the register's port, as C(zarvikctl --port) takes it
        (1..256; C(ZarvikConfig.ini) of I(chdir) maps it to a device, a
        serial device server on the network included).
      - Without it, the port of C(ZarvikConfig.ini).
    type: int
  speed:
    description:
      - The speed of the line (9600, 19200, 38400, 57600, 115200); without it,
        the speed of C(ZarvikConfig.ini).
    type: int
  net:
    description:
      - The register's network number (1..98); without it, that of
        C(ZarvikConfig.ini), else 1.
    type: int
  serial:
    description:
      - The serial number the register must answer with. Another register on
        the port fails the task, and nothing is read from it or written to it.
    type: str
  zarvikctl:
    description:
      - The program to run on the managed machine, a name looked up on the
        path or a path.
    type: str
    default: zarvikctl
  chdir:
    description:
      - The folder zarvikctl runs in, so that a portable C(ZarvikConfig.ini)
        (and its C(bd) with the backups) is used.
    type: path
requirements:
  - zarvikctl on the managed machine (Debian package C(zarvikctl))
notes:
  - The module runs on the machine the register hangs on (or whose
    ser2net it reaches); use C(ansible_connection=local) when that is the
    control machine.
'''
