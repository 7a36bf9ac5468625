// Fuzz target: the simulator's efivars directory reader, on a directory made afresh
// from each input: entries named like the four variables (or nearly: another GUID,
// upper case, no GUID, any name at all), each a file of any content, a directory, or
// a symbolic link that leads nowhere or to itself.
//
// Input: up to eight entries, each a kind byte (bits 0-2: the name, see Name(); bits
// 3-4: 0 or 1 a file, 2 a directory, 3 a symbolic link; bit 5: the link points to
// itself) then, for a file, a length byte and that many bytes; a name of kind 6 takes
// a length byte and that many bytes of name first.
//
// Checked: the reader either replaces the machine's firmware with exactly the four
// variables present as files of at least 4 bytes, each without its 4 attribute bytes,
// in the order CALIBRATE, ALR_CURVE, ALS_CS, ALS_FLAG; or rejects the directory with
// sim::MachineFileError naming the first variable that cannot be used (shorter than
// 4 bytes, a directory, a link to nothing); never another exception.
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "tools/simulator/machine_file.h"

namespace {

namespace fs = std::filesystem;
using fuzz::Broken;

const char* const variables[] = {"CALIBRATE", "ALR_CURVE", "ALS_CS", "ALS_FLAG"};
const std::string guid = "bf82486a-80f7-4733-b82c-066bd8f2534b";

// One directory for the whole run, emptied for every input; removed when the run ends.
const fs::path& Directory() {
    static const fs::path directory = [] {
        std::string pattern = (fs::temp_directory_path() / "noxel-fuzz-efivars-XXXXXX").string();
        if (!mkdtemp(pattern.data())) Broken("cannot create a temporary directory");
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Directory(), ignored);
        });
        return fs::path(pattern);
    }();
    return directory;
}

std::optional<std::string> Name(uint8_t kind, fuzz::Input& input) {
    const std::string variable = variables[(kind >> 6) & 3];
    switch (kind & 7) {
        case 4: return variable + "-BF82486A-80F7-4733-B82C-066BD8F2534B";
        case 5: return variable + "-8be4df61-93ca-11d2-aa0d-00e098032b8c";
        case 6: {
            std::string name;
            for (uint8_t byte : input.Bytes(input.Byte()))
                if (byte != '/' && byte != 0) name += static_cast<char>(byte);
            if (name.empty() || name == "." || name == "..") return std::nullopt;
            return name;
        }
        case 7: return variable;
        default: return std::string(variables[kind & 3]) + "-" + guid;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& directory = Directory();
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) fs::remove_all(entry.path());

    fuzz::Input input(data, size);
    std::map<std::string, std::optional<emu::Bytes>> entries;  // a file's content; none: not a file
    for (int count = 0; count < 8 && !input.Empty(); ++count) {
        const uint8_t kind = input.Byte();
        const std::optional<std::string> name = Name(kind, input);
        const unsigned type = (kind >> 3) & 3;
        std::optional<emu::Bytes> content;
        if (type < 2) content = input.Bytes(input.Byte());
        if (!name || entries.count(*name)) continue;  // the first entry of a name wins
        const fs::path path = directory / *name;
        if (content) {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(content->data()),
                      static_cast<std::streamsize>(content->size()));
            if (!out) Broken("cannot write " + path.string());
        } else if (type == 2) {
            fs::create_directory(path);
        } else {
            // A dangling link leads outside the directory, so that no entry can be its target.
            fs::create_symlink((kind & 32) ? path : fs::path(directory.string() + "-nowhere"), path);
        }
        entries.emplace(*name, content);
    }

    // The variables the reader must give, and the first that cannot be used: a
    // directory or a link that leads to no file is as unusable as a short file.
    std::vector<std::pair<std::string, emu::Bytes>> expected;
    std::optional<std::string> unusable;
    for (const char* variable : variables) {
        const auto it = entries.find(std::string(variable) + "-" + guid);
        if (it == entries.end()) continue;
        if (!it->second || it->second->size() < 4) {
            unusable = (directory / it->first).string();
            break;
        }
        expected.emplace_back(variable, emu::Bytes(it->second->begin() + 4, it->second->end()));
    }

    sim::MachineDescription machine = sim::DefaultMachine();
    try {
        sim::ReadEfivars(machine, directory.string());
    } catch (const sim::MachineFileError& rejected) {
        const std::string message = rejected.what();
        if (!unusable || message.rfind(*unusable + ": ", 0) != 0 || message.size() <= unusable->size() + 2)
            Broken("efivars rejected with '" + message + "', unusable: " + unusable.value_or("none"));
        return 0;
    } catch (const std::exception& other) {
        Broken(std::string("efivars rejected with another exception: ") + other.what());
    }
    if (unusable) Broken("efivars accepted with " + *unusable + " unusable");
    if (machine.firmware != expected) Broken("efivars: not the variables of the directory");
    return 0;
}
