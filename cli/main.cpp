#include "cli.h"

int main(int argc, char** argv)
{
    return arcovelo::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
