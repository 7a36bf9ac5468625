// The host build's process entry: what the Windows C runtime does for a -municode
// program, handing the arguments to wmain as UTF-16, with standard output shown.
#include <string>
#include <vector>

#include "platform/emulation/emulation.h"
#include "service/entry_point.h"

int main(int argc, char* argv[]) {
    emu::SetConsoleEcho(true);
    std::vector<emu::String> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(emu::Wide(argv[i]));
    std::vector<WCHAR*> pointers;
    for (emu::String& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return wmain(argc, pointers.data());
}
