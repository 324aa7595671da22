// The program's entry point: the arguments as UTF-8, the standard streams as writers.
#include "vlmmrxreport/System.h"
#include "vlmmrxreport/Utf8.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.push_back(Utf8(argv[index]));
    }
    return RunReport(arguments, StandardOutput(), StandardError());
}
#else
int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunReport(arguments, StandardOutput(), StandardError());
}
#endif
