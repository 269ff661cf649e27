"""Ports on the loopback address, found when the tests run: no test counts
on a fixed port being free or closed."""
import socket


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on right now: the system
    chose it for a socket that was bound and closed again. A server started
    on it next, or a connection that must be refused, finds it free."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
