#include "CommandLine.h"

#include <exception>
#include <map>

namespace cryo::cli {

const char* const UsageText
    = "Usage:\n"
      "  cryoweaver-cli list   --staidx FILE --statics FILE [--map-size WxH] (X Y | --at X,Y)\n"
      "  cryoweaver-cli melt   --staidx FILE --statics FILE --wsc PATH [--map-size WxH] [--dry-run]\n"
      "                        (X Y | --at X,Y)\n"
      "  cryoweaver-cli freeze --staidx FILE --statics FILE --wsc PATH [--map-size WxH] [--dry-run]\n"
      "  cryoweaver-cli export --staidx FILE --statics FILE --wsc PATH [--map-size WxH] OUTFILE\n"
      "  cryoweaver-cli undo   --staidx FILE --statics FILE --wsc PATH\n"
      "  cryoweaver-cli history --staidx FILE --statics FILE --wsc PATH\n"
      "  cryoweaver-cli check  --staidx FILE --statics FILE --wsc PATH [--map-size WxH] [--json]\n"
      "  cryoweaver-cli compact --staidx FILE --statics FILE [--map-size WxH]\n"
      "  cryoweaver-cli sample DIR\n"
      "  cryoweaver-cli --help | --version\n"
      "\n"
      "  list    prints the static objects of block X, Y\n"
      "  melt    moves block X, Y from the statics files into the world save\n"
      "  freeze  moves every TYPE 255 item of the world save into the statics files\n"
      "  export  writes the items a freeze would take into OUTFILE, a file of [ITEM]\n"
      "          records for players to freeze; the world save stays as it is\n"
      "  undo    takes back the last melt, freeze or compact of these files\n"
      "  history lists what undo takes back, newest first\n"
      "  check   reports what would make the server or a freeze misbehave, changing\n"
      "          nothing; exit status 1 when it finds anything (--json: as JSON)\n"
      "  compact rewrites the statics files without the bytes no block refers to\n"
      "  sample  writes a small world (StaIdx0.mul, Statics0.mul, UOX3.wsc) to try\n"
      "\n"
      "  PATH is the world save: a classic UOX3.wsc, the server's shared folder of\n"
      "  region files (<x>.<y>.wsc), or one file of [ITEM] records.\n"
      "  X and Y are block numbers (blocks of 8 x 8 tiles), from 0 to the map's width\n"
      "  and height in blocks less 1: 767 and 511 on the classic map 0 (an index of\n"
      "  4,718,592 bytes), 895 and 511 on maps 0 and 1 of today's client (5,505,024\n"
      "  bytes). Maps 2 to 5 are 200, 256, 181 and 512 blocks high and as wide as\n"
      "  their index holds. A /where position divided by 8 gives its block.\n"
      "\n"
      "  --at X,Y        the block at this world position, in tiles as /where shows\n"
      "                  it (X from 0 to the map's width in tiles less 1, likewise Y)\n"
      "  --map-size WxH  the map's size in tiles (multiples of 8), for a custom map;\n"
      "                  without it, the map is the number in the files' names\n"
      "                  (staidx2.mul with statics2.mul; other names are map 0)\n"
      "  --dry-run       makes every check and prints what would change, but\n"
      "                  changes no file\n";

namespace {

struct CommandShape {
    CommandKind Kind;
    bool NeedsWsc;
    bool TakesBlock;
    bool TakesOutput = false;
};

// A value option: where its text goes and what it needs.
struct ValueOption {
    std::string* Text;
    const char* Needs;
};

const std::map<std::string, CommandShape> Commands = {
    {"list", {CommandKind::List, false, true}},
    {"melt", {CommandKind::Melt, true, true}},
    {"freeze", {CommandKind::Freeze, true, false}},
    {"export", {CommandKind::Export, true, false, true}},
    {"undo", {CommandKind::Undo, true, false}},
    {"history", {CommandKind::History, true, false}},
    {"check", {CommandKind::Check, true, false}},
    {"compact", {CommandKind::Compact, false, false}},
};

[[noreturn]] void Fail(const std::string& text)
{
    throw UsageError{text};
}

} // namespace

Command ParseCommandLine(const std::vector<std::string>& args)
{
    Command command;
    if (args.empty())
        Fail("no command given");
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help")
        return command;
    if (name == "--version") {
        command.Kind = CommandKind::Version;
        return command;
    }

    std::vector<std::string> positional;
    std::string atText;
    std::string mapSizeText;
    std::map<std::string, ValueOption> options = {{"--staidx", {&command.StaIdx, "a file name"}},
        {"--statics", {&command.Statics, "a file name"}}, {"--wsc", {&command.Wsc, "a file or folder name"}},
        {"--at", {&atText, "a position X,Y"}}, {"--map-size", {&mapSizeText, "a size WIDTHxHEIGHT"}}};
    std::map<std::string, bool> given;
    bool onlyPositional = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg); // "-5" is a block number, not an option
            continue;
        }
        if (arg == "--dry-run" || arg == "--json") {
            if (given.count(arg))
                Fail("option '" + arg + "' is given twice");
            (arg == "--json" ? command.Json : command.DryRun) = true;
            given[arg] = true;
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            command.Kind = CommandKind::Help;
            return command;
        }
        const auto equals = arg.find('=');
        const std::string key = arg.substr(0, equals);
        const auto option = options.find(key);
        if (option == options.end())
            Fail("unknown option '" + key + "'");
        if (given.count(key))
            Fail("option '" + key + "' is given twice");
        if (equals != std::string::npos) {
            *option->second.Text = arg.substr(equals + 1);
        } else {
            if (i + 1 >= args.size())
                Fail("option '" + key + "' needs " + option->second.Needs);
            *option->second.Text = args[++i];
        }
        given[key] = true;
    }

    if (name == "sample") {
        if (!given.empty())
            Fail("sample takes no options");
        if (positional.size() != 1)
            Fail("sample needs exactly one folder");
        command.Kind = CommandKind::Sample;
        command.Folder = positional[0];
        return command;
    }

    const auto shape = Commands.find(name);
    if (shape == Commands.end())
        Fail("unknown command '" + name + "'");
    command.Kind = shape->second.Kind;
    if (!given.count("--staidx"))
        Fail(name + " needs --staidx FILE");
    if (!given.count("--statics"))
        Fail(name + " needs --statics FILE");
    if (shape->second.NeedsWsc && !given.count("--wsc"))
        Fail(name + " needs --wsc PATH");
    if (!shape->second.NeedsWsc && given.count("--wsc"))
        Fail(name + " takes no --wsc");
    if (command.Kind != CommandKind::Check && command.Json)
        Fail(name + " takes no --json");
    if (!shape->second.TakesBlock && given.count("--at"))
        Fail(name + " takes no --at");
    if (command.DryRun && command.Kind != CommandKind::Melt && command.Kind != CommandKind::Freeze)
        Fail(name + " takes no --dry-run");
    try {
        if (given.count("--at"))
            command.At = ParsePosition(atText);
        if (given.count("--map-size"))
            command.MapSize = ParseMapSize(mapSizeText);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    // The files of a numbered map are laid out at that map's height.
    const auto indexMap = StaticsMapNumber(command.StaIdx, StaticsFileKind::Index);
    if (command.MapSize && indexMap && indexMap == StaticsMapNumber(command.Statics, StaticsFileKind::Data)
        && command.MapSize->Height != MapHeightBlocks(*indexMap))
        Fail("--map-size " + mapSizeText + " does not fit map " + std::to_string(*indexMap) + " of its files, "
            + std::to_string(MapHeightBlocks(*indexMap) * 8)
            + " tiles high; give that height, or leave --map-size out");
    if (shape->second.TakesOutput) {
        if (positional.size() != 1)
            Fail(name + " needs exactly one output file");
        command.Output = positional[0];
    } else if (!shape->second.TakesBlock) {
        if (!positional.empty())
            Fail(name + " takes no block numbers");
    } else if (command.At) {
        if (!positional.empty())
            Fail(name + " takes the block numbers X and Y or --at X,Y, not both");
    } else if (positional.size() != 2) {
        Fail(name + " needs the block numbers X and Y, or --at X,Y");
    } else {
        command.XText = positional[0];
        command.YText = positional[1];
    }
    return command;
}

} // namespace cryo::cli
