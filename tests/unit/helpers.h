// Shared test helpers: temporary folders, whole-file reads and writes, and
// running Debian's Python as an oracle.
#pragma once

#include <string>

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// Writes / reads a whole file as bytes.
void write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);

// Runs `python -c script` (Debian's interpreter) with input on its standard
// input; returns its standard output. exit_status, when given, receives the
// interpreter's exit status.
std::string run_python(const std::string &script, const std::string &input = "",
                       int *exit_status = nullptr);

// Runs a shell command with input on its standard input; returns its output.
std::string run_command(const std::string &command, const std::string &input = "",
                        int *exit_status = nullptr);

// Lower-case hexadecimal of a byte string.
std::string to_hex(const std::string &bytes);
