#include "tests/unit/helpers.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#ifndef TARVEX_PYTHON
#define TARVEX_PYTHON "/usr/bin/python3"
#endif

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "tarvex-test-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    path = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string run_command(const std::string &command, const std::string &input, int *exit_status)
{
    TempDir dir;
    std::string in_path = dir.file("stdin");
    std::string out_path = dir.file("stdout");
    write_file(in_path, input);
    std::string full = "(" + command + ") <'" + in_path + "' >'" + out_path + "'";
    int rc = std::system(full.c_str());
    if (exit_status)
        *exit_status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return read_file(out_path);
}

std::string run_python(const std::string &script, const std::string &input, int *exit_status)
{
    TempDir dir;
    std::string script_path = dir.file("oracle.py");
    write_file(script_path, script);
    return run_command(std::string(TARVEX_PYTHON) + " '" + script_path + "'", input, exit_status);
}

std::string to_hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
