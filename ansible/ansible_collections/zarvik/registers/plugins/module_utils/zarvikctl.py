# -*- coding: utf-8 -*-
# The modules of zarvik.registers run zarvikctl on the managed machine with
# --json and read the one JSON object it prints: the result, the counts and
# every message. Its exit status says whether the command did its work.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

# The options every module of the collection takes.
COMMON_ARGUMENTS = dict(
    port=dict(type='int'),
    speed=dict(type='int'),
    net=dict(type='int'),
    serial=dict(type='str'),
    zarvikctl=dict(type='str', default='zarvikctl'),
    chdir=dict(type='path'),
)


def zarvikctl_program(module):
    """The program to run: a path as given, a bare name looked up on the path."""
    program = module.params['zarvikctl']
    if os.sep in program:
        if not os.access(program, os.X_OK):
            module.fail_json(msg='zarvikctl program %s is not executable' % program)
        return program
    return module.get_bin_path(program, required=True)


def _run(module, words, options):
    args = [zarvikctl_program(module)] + list(words)
    for name in ('port', 'speed', 'net', 'serial'):
        value = module.params.get(name)
        if value is not None:
            args += ['--' + name, str(value)]
    args += list(options or [])
    chdir = module.params.get('chdir')
    if chdir and not os.path.isdir(chdir):
        module.fail_json(msg='chdir %s is not a folder' % chdir)
    rc, out, err = module.run_command(args, cwd=chdir or None, environ_update={'LC_ALL': 'C.UTF-8'})
    return args, rc, out, err


def run_zarvikctl_plain(module, words, options=None):
    """Runs a zarvikctl command that has no JSON report; fails the task with
    its messages (standard error) unless it ended with exit status 0."""
    args, rc, out, err = _run(module, words, options)
    if rc != 0:
        module.fail_json(msg=err.strip() or 'zarvikctl ended with exit status %d' % rc, rc=rc, cmd=args)
    return out, err


def run_zarvikctl(module, words, options=None):
    """Runs zarvikctl WORDS --json with the register options of the task.

    Returns the report (a dict). A run that ended with another exit status
    than 0 fails the task with its error messages."""
    args, rc, out, err = _run(module, words, list(options or []) + ['--json'])
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg='zarvikctl gave no JSON report (exit status %d): %s' % (rc, (err or out).strip()),
                         rc=rc, stdout=out, stderr=err, cmd=args)
    if not isinstance(report, dict):
        module.fail_json(msg='zarvikctl gave no JSON object', rc=rc, stdout=out, stderr=err, cmd=args)
    if rc != 0:
        errors = [m['text'] for m in report.get('messages', []) if m.get('level') == 'error']
        module.fail_json(msg='; '.join(errors) or 'zarvikctl ended with exit status %d' % rc, rc=rc,
                         messages=report.get('messages', []), result=report.get('result', {}),
                         counts=report.get('counts', {}), cmd=args)
    return report
