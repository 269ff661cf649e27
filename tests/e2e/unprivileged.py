"""Runs as an unprivileged user, wherever the tree is.

Run by root, a test whose point is a file its user may not read runs the
program as the user nobody, and the test servers that drop their privileges
(smtp-sink, tinyproxy) become nobody too. Nobody may be unable to reach the
build tree or the temporary folder (a clone in root's home, mode 0700; a
TMPDIR below it), so such runs use copies of the programs in a fresh folder
that every user can reach, and their files live in such folders as well.
Run by any other user, the programs run as that user from where they are
(a file without permission bits refuses its owner too).
"""
import atexit
import os
import pwd
import shutil
import stat
import tempfile

# Where a folder every user can reach is looked for, in this order.
SHARED_BASES = (tempfile.gettempdir(), "/tmp", "/var/tmp", "/dev/shm")


# The user nobody, looked up here (a preexec function runs in the child
# after fork) and only by root, who needs it: a missing user fails the
# tests that need it instead of skipping them.
NOBODY = pwd.getpwnam("nobody") if os.geteuid() == 0 else None


def as_nobody():
    """A preexec that makes the child the user nobody when the tests run as
    root (root reads any file). Fails the run if it cannot."""
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(NOBODY.pw_gid)
        os.setuid(NOBODY.pw_uid)


def reachable_by_all(path):
    """True when every folder from / down to path lets every user pass."""
    path = os.path.realpath(path)
    while True:
        if not os.stat(path).st_mode & stat.S_IXOTH:
            return False
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent


def shared_folder(prefix, mode=0o777):
    """A fresh folder with the given mode that every user can reach and run
    programs from; the caller removes it."""
    for base in SHARED_BASES:
        if (os.path.isdir(base) and reachable_by_all(base)
                and not os.statvfs(base).f_flag & os.ST_NOEXEC):
            folder = tempfile.mkdtemp(prefix=prefix, dir=base)
            os.chmod(folder, mode)
            return folder
    raise RuntimeError("no folder that every user can reach and run programs from among %s"
                       % (SHARED_BASES,))


_copies = {}


def program_for_nobody(path):
    """The program at path as nobody can start it: path itself unless the
    tests run as root, else a copy in a folder every user can reach (made
    once, removed when the tests end)."""
    if os.geteuid() != 0:
        return path
    if path not in _copies:
        if not _copies:
            folder = shared_folder("tarvex-programs-", 0o755)
            atexit.register(shutil.rmtree, folder, True)
            _copies[None] = folder
        # Under its own name: a program may show the name it was started by.
        sub = os.path.join(_copies[None], str(len(_copies)))
        os.mkdir(sub, 0o755)
        copy = os.path.join(sub, os.path.basename(path))
        shutil.copyfile(path, copy)
        os.chmod(copy, 0o755)
        _copies[path] = copy
    return _copies[path]
