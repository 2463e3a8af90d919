// stub-test-exit CODE [SECONDS | --until FILE]: a program for the install
// tests. Records its arguments in $STUB_TEST_EXIT_RECORD when set, waits
// (the seconds, or until FILE exists), and ends with the whole 32-bit CODE.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/process.h"

int main(int argc, char** argv) {
    if (const char* record = std::getenv("STUB_TEST_EXIT_RECORD"); record != nullptr) {
        if (std::FILE* out = std::fopen(record, "ab")) {
            for (int i = 1; i < argc; ++i) {
                std::fprintf(out, "%s%s", i > 1 ? " " : "", argv[i]);
            }
            std::fputc('\n', out);
            std::fclose(out);
        }
    }
    const auto code = static_cast<std::uint32_t>(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0);
    if (argc > 3 && std::string(argv[2]) == "--until") {
        while (!std::filesystem::exists(argv[3])) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    } else if (argc > 2) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::strtod(argv[2], nullptr)));
    }
    stubframework::platform::process::ExitProcess(code);
}
