#include "tests/unit/test_net_peer.h"

#include <cstdlib>
#include <cstring>

#ifndef TARVEX_PYTHON
#define TARVEX_PYTHON "/usr/bin/python3"
#endif

PeerProcess::PeerProcess(const std::string &command, const std::string &ready_prefix)
{
    out_ = popen(command.c_str(), "r");
    if (!out_)
        return;
    char line[4096];
    while (fgets(line, sizeof line, out_)) {
        if (strncmp(line, ready_prefix.c_str(), ready_prefix.size()) != 0)
            continue;
        const char *p = strrchr(line, ':');
        const char *q = strrchr(line, ' ');
        if (!p || (q && q > p))
            p = q;
        port_ = p ? static_cast<unsigned>(strtoul(p + 1, nullptr, 10)) : 0;
        break;
    }
}

PeerProcess::~PeerProcess() { finish(); }

std::string PeerProcess::finish()
{
    if (out_) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, out_)) > 0)
            rest_.append(buf, n);
        pclose(out_);
        out_ = nullptr;
    }
    return rest_;
}

std::unique_ptr<PeerProcess> script_peer(const std::vector<std::string> &steps, const std::string &options)
{
    std::string cmd = std::string(TARVEX_PYTHON) + " " + TARVEX_TEST_PY_DIR + "/net_peer.py " + options;
    for (const std::string &s : steps)
        cmd += " '" + s + "'";
    return std::make_unique<PeerProcess>(cmd, "PORT ");
}

std::string bytes_of_hex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string peer_answer(const std::string &output, const std::string &tag)
{
    size_t at = output.find(tag + " ");
    if (at == std::string::npos)
        return "<no " + tag + " line>";
    size_t start = at + tag.size() + 1;
    size_t end = output.find('\n', start);
    return bytes_of_hex(output.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

std::string connect_error;

Connection *connect_to(const char *host, unsigned port, int timeout_ms)
{
    Connection *c = ip_new(CONN_TCP, 0, CONN_WAIT);
    if (!c)
        return nullptr;
    c->timeout_ms = timeout_ms;
    if (!ip_connect(c, host, port)) {
        connect_error = "port " + std::to_string(port) + ": " + ip_error(c);
        ip_free(c);
        return nullptr;
    }
    return c;
}

int TraceLog::hook(void *user, int direction, const char *text)
{
    static_cast<TraceLog *>(user)->entries.push_back({direction, text});
    return 0;
}

void TraceLog::attach(Connection *c, uint32_t bits)
{
    c->log_fn = hook;
    c->log_user = this;
    c->flags |= bits;
}

size_t TraceLog::count(int direction, const std::string &prefix) const
{
    size_t n = 0;
    for (const Entry &e : entries)
        if (e.direction == direction && e.text.compare(0, prefix.size(), prefix) == 0)
            n++;
    return n;
}
