#include "cli.h"
#include "platform.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

// The arguments as UTF-8, whatever the console's code page: the engine's
// names are UTF-8.
int main()
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(std::size_t(n > 0 ? n - 1 : 0), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    ::LocalFree(argv);
    ::SetConsoleOutputCP(CP_UTF8);
    arcovelo::RaiseOpenFileLimit();
    return arcovelo::cli::RunCli(args);
}
#else
int main(int argc, char** argv)
{
    arcovelo::RaiseOpenFileLimit();  // a restore keeps a batch of files open
    return arcovelo::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
