#!/usr/bin/env python3
"""The wheel as a user installs it: written by tools/make_wheel.py, installed with
`pip install --no-index` into a fresh virtual environment of each Python 3 here that has numpy
(Debian's, and the one first on PATH when it is another), imported from outside the source
tree, and run through the Python tests there.

usage: test_wheel.py --package DIR --version V --platform TAG --tests DIR --work DIR"""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def interpreters():
    """Each Python 3 here, once: Debian's, and the one first on PATH."""
    seen = set()
    for candidate in ('/usr/bin/python3', shutil.which('python3')):
        if not candidate or not os.path.exists(candidate):
            continue
        real = subprocess.run([candidate, '-c', 'import sys; print(sys.executable)'],
                              capture_output=True, text=True).stdout.strip()
        if real in seen:
            continue
        seen.add(real)
        yield candidate


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--package', required=True)
    ap.add_argument('--version', required=True)
    ap.add_argument('--platform', required=True)
    ap.add_argument('--tests', required=True)
    ap.add_argument('--work', required=True)
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    tools = os.path.join(HERE, '..', '..', 'tools', 'make_wheel.py')
    wheel = subprocess.run([sys.executable, tools, '--package', args.package, '--version',
                            args.version, '--platform', args.platform, '--out',
                            os.path.join(args.work, 'dist')],
                           check=True, capture_output=True, text=True).stdout.strip()
    expected = 'flowseries-%s-py3-none-%s.whl' % (args.version, args.platform)
    if os.path.basename(wheel) != expected:
        sys.exit('the wheel is %s, not %s' % (wheel, expected))
    tested = 0
    for python in interpreters():
        version = subprocess.run([python, '-c', 'import sys; print("%d.%d" % sys.version_info[:2])'],
                                 capture_output=True, text=True).stdout.strip()
        has_numpy = subprocess.run([python, '-c', 'import numpy, pytest'],
                                   capture_output=True).returncode == 0
        if not has_numpy:
            print('%s (Python %s): no numpy and pytest, not tested' % (python, version))
            continue
        env_dir = os.path.join(args.work, 'venv-' + version)
        # Fresh, but seeing the interpreter's own numpy, pandas and pytest: no network here.
        subprocess.run([python, '-m', 'venv', '--system-site-packages', env_dir], check=True)
        venv_python = os.path.join(env_dir, 'bin', 'python')
        subprocess.run([venv_python, '-m', 'pip', 'install', '--quiet', '--no-index', wheel],
                       check=True)
        env = {k: v for k, v in os.environ.items() if k != 'PYTHONPATH'}
        where = subprocess.run([venv_python, '-c', 'import flowseries; print(flowseries.__file__, '
                                'flowseries.__version__)'], cwd=args.work, env=env,
                               capture_output=True, text=True, check=True).stdout.split()
        if not where[0].startswith(os.path.realpath(env_dir)) and not where[0].startswith(env_dir):
            sys.exit('flowseries was imported from %s, not from the virtual environment' % where[0])
        if where[1] != args.version:
            sys.exit('the installed version is %s' % where[1])
        run = subprocess.run([venv_python, '-m', 'pytest', '-q', '-p', 'no:cacheprovider',
                              args.tests],
                             cwd=args.work, env=env)
        if run.returncode != 0:
            return run.returncode
        print('%s (Python %s): the wheel installs and passes the tests' % (python, version))
        tested += 1
    return 0 if tested else 1


if __name__ == '__main__':
    sys.exit(main())
