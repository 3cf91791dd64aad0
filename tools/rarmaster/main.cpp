// rarmaster: packs files and directories into a RAR 4 volume set with the
// store method, the way a release medium carries its archive.
#include "RarWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: rarmaster [OPTIONS] ARCHIVE INPUT...\n"
    "Packs files and directories (with everything beneath; symbolic links stay links)\n"
    "into a RAR 4 archive with the store method.\n"
    "\n"
    "  -v SIZE            write a volume set, each volume at most SIZE bytes\n"
    "                     (suffix k, m or g for units of 1024, 1024^2, 1024^3)\n"
    "  --naming old       volumes ARCHIVE, then .r00, .r01, ... (the default)\n"
    "  --naming parts     volumes NAME.part1.rar, NAME.part2.rar, ...\n"
    "  --comment TEXT     store TEXT as the archive comment\n"
    "  --comment-file F   store the contents of file F as the archive comment\n"
    "  -C DIR             take relative INPUTs under DIR\n"
    "  -h, --help         show this help\n"
    "\n"
    "An INPUT is stored under its own name; \".\" or \"DIR/.\" stores a directory's contents.\n";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

uint64_t parseSize(const std::string& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        throw UsageError("-v: '" + text + "' is not a size");
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    const std::string unit = end;
    uint64_t factor = 1;
    if (unit == "k" || unit == "K")
        factor = 1024;
    else if (unit == "m" || unit == "M")
        factor = 1024 * 1024;
    else if (unit == "g" || unit == "G")
        factor = 1024ull * 1024 * 1024;
    else if (!unit.empty())
        throw UsageError("-v: '" + text + "' is not a size");
    if (errno == ERANGE || value == 0 || value > UINT64_MAX / factor)
        throw UsageError("-v: '" + text + "' is no usable volume size");
    return value * factor;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw UsageError("--comment-file: cannot read '" + path + "'");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string describePiece(const RarWriter::Piece& p, const RarWriter::Entry& e)
{
    std::string text = p.entry;
    if (p.splitBefore || p.splitAfter) {
        text += " [bytes " + std::to_string(p.offset) + "-" + std::to_string(p.offset + p.size) + " of "
            + std::to_string(e.kind == RarWriter::Entry::Kind::File ? e.size : e.linkTarget.size()) + "]";
    }
    return text;
}

int run(int argc, char** argv)
{
    RarWriter::Options options;
    std::string baseDirectory;
    std::vector<std::string> positional;
    bool namingGiven = false;
    bool commentGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* option) -> std::string {
            if (i + 1 >= argc)
                throw UsageError(std::string(option) + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "-v") {
            options.volumeSize = parseSize(value("-v"));
        } else if (arg.rfind("-v", 0) == 0 && arg.size() > 2 && arg[2] >= '0' && arg[2] <= '9') {
            options.volumeSize = parseSize(arg.substr(2));
        } else if (arg == "--naming") {
            const std::string naming = value("--naming");
            if (naming == "old")
                options.naming = RarWriter::Naming::OldStyle;
            else if (naming == "parts")
                options.naming = RarWriter::Naming::Parts;
            else
                throw UsageError("--naming: '" + naming + "' is neither 'old' nor 'parts'");
            namingGiven = true;
        } else if (arg == "--comment" || arg == "--comment-file") {
            if (commentGiven)
                throw UsageError("give one comment only");
            options.comment = arg == "--comment" ? value("--comment") : readFile(value("--comment-file"));
            if (options.comment.empty())
                throw UsageError(arg + ": the comment is empty");
            commentGiven = true;
        } else if (arg == "-C") {
            baseDirectory = value("-C");
        } else if (arg == "--") {
            positional.insert(positional.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty())
        throw UsageError("no ARCHIVE given");
    if (positional.size() < 2)
        throw UsageError("nothing to pack: give at least one INPUT after the ARCHIVE");
    if (namingGiven && !options.volumeSize)
        throw UsageError("--naming needs -v: a single archive has one name");
    const std::string archive = positional.front();
    const std::vector<std::string> inputs(positional.begin() + 1, positional.end());

    const auto entries = RarWriter::collect(inputs, baseDirectory);
    if (entries.empty())
        throw UsageError("the inputs hold nothing to pack");
    const auto result = RarWriter::write(archive, entries, options);

    for (const auto& stale : result.removedStale)
        std::cout << "removed stale volume " << stale << "\n";
    for (const auto& volume : result.volumes) {
        std::cout << volume.path << ": " << volume.size << " bytes";
        const char* separator = ": ";
        for (const auto& piece : volume.pieces) {
            std::cout << separator << describePiece(piece, entries[piece.entryIndex]);
            separator = ", ";
        }
        std::cout << "\n";
    }
    std::cout << "wrote " << entries.size() << (entries.size() == 1 ? " entry" : " entries") << " ("
              << result.dataBytes << " bytes stored) in " << result.volumes.size()
              << (result.volumes.size() == 1 ? " volume" : " volumes")
              << (options.comment.empty() ? "" : ", with a comment") << "\n";
    return 0;
}

}

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "rarmaster: " << e.what() << "\n" << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "rarmaster: " << e.what() << "\n";
        return 1;
    }
}
