#include "CommandLine.h"

#include <exception>
#include <map>

namespace cryo::cli {

const char* const UsageText
    = "Usage:\n"
      "  cryoweaver-cli list   --staidx FILE --statics FILE [--map-size WxH]\n"
      "                        (X Y | --at X,Y | --area X1,Y1,X2,Y2)\n"
      "  cryoweaver-cli melt   --staidx FILE --statics FILE --wsc PATH [--map-size WxH] [--dry-run]\n"
      "                        (X Y | --at X,Y | --area X1,Y1,X2,Y2)\n"
      "  cryoweaver-cli freeze --staidx FILE --statics FILE --wsc PATH [--map-size WxH] [--dry-run]\n"
      "                        [--area X1,Y1,X2,Y2]\n"
      "  cryoweaver-cli export --staidx FILE --statics FILE --wsc PATH [--map-size WxH]\n"
      "                        [--area X1,Y1,X2,Y2] OUTFILE\n"
      "  cryoweaver-cli patch  --staidx FILE --statics FILE (--new-staidx FILE --new-statics FILE\n"
      "                        | --server DIR [--map N]) [--map-size WxH] OUTFILE\n"
      "  cryoweaver-cli apply  --staidx FILE --statics FILE [--map-size WxH] [--dry-run] [--force]\n"
      "                        PATCHFILE\n"
      "  cryoweaver-cli undo   --staidx FILE --statics FILE [--wsc PATH]\n"
      "  cryoweaver-cli history --staidx FILE --statics FILE [--wsc PATH]\n"
      "  cryoweaver-cli check  --staidx FILE --statics FILE --wsc PATH [--map-size WxH] [--json]\n"
      "                        [--area X1,Y1,X2,Y2]\n"
      "  cryoweaver-cli compact --staidx FILE --statics FILE [--map-size WxH]\n"
      "  cryoweaver-cli render --staidx FILE --statics FILE [--wsc PATH] [--client DIR]\n"
      "                        [--area X1,Y1,X2,Y2] [--scale N] [--grid] [--map-size WxH]\n"
      "                        OUTFILE.png\n"
      "  cryoweaver-cli maps   --server DIR\n"
      "  cryoweaver-cli sample DIR\n"
      "  cryoweaver-cli --help | --version\n"
      "\n"
      "  list    prints the static objects of block X, Y (or of an area)\n"
      "  melt    moves block X, Y (or an area) from the statics files into the world\n"
      "          save\n"
      "  freeze  moves every TYPE 255 item of the world save into the statics files\n"
      "  export  writes the items a freeze would take into OUTFILE, a file of [ITEM]\n"
      "          records for players to freeze; the world save stays as it is.\n"
      "          It only adds objects: objects moved or removed need a patch\n"
      "  patch   compares the released statics files (--staidx, --statics) with the\n"
      "          current ones (--new-staidx, --new-statics) and writes every block\n"
      "          that differs into OUTFILE, a players' patch\n"
      "  apply   replaces the blocks of PATCHFILE in these statics files; blocks\n"
      "          already up to date stay, and blocks that differ from the release\n"
      "          stop it unless --force\n"
      "  undo    takes back the last melt, freeze, compact or apply of these files\n"
      "  history lists what undo takes back, newest first\n"
      "  check   reports what would make the server or a freeze misbehave, changing\n"
      "          nothing; exit status 1 when it finds anything (--json: as JSON)\n"
      "  compact rewrites the statics files without the bytes no block refers to\n"
      "  render  draws the map as the client's radar shows it into OUTFILE.png; with\n"
      "          --wsc the items a freeze would take are marked in magenta\n"
      "  maps    lists the maps of a UOX3 server's folder: size, files, which are there\n"
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
      "                  changes no file\n"
      "  --force         apply: replaces blocks that differ from the release too\n"
      "  --server DIR    a UOX3 server's folder (with uox.ini) in place of --staidx,\n"
      "                  --statics and --wsc, which still override it; the map's\n"
      "                  files and size come from maps.dfn\n"
      "  --map N         the server's map 0 to 5 (0 unless given)\n"
      "  --server-running-ok  changes files even though a UOX3 server runs on them,\n"
      "                  which commands refuse: it would overwrite the change\n"
      "  --area X1,Y1,X2,Y2\n"
      "                  every block that this rectangle of tiles touches: two\n"
      "                  opposite corners as /where shows them, in any order.\n"
      "                  list, melt, export, check and render work on those\n"
      "                  blocks; an area's melt is one operation, one undo.\n"
      "                  freeze takes only the TYPE 255 items inside the\n"
      "                  rectangle and says how many it left outside\n"
      "  --client DIR    the client's folder, with radarcol.mul and map0LegacyMUL.uop\n"
      "                  or map0.mul (for map 0); without it the statics' folder,\n"
      "                  and where they are missing there, the statics alone\n"
      "  --scale N       tiles a pixel: 1 (the default), 2, 4 or 8\n"
      "  --grid          draws the lines between blocks (at --scale 1 or 2)\n";

namespace {

struct CommandShape {
    CommandKind Kind;
    bool NeedsWsc;
    bool TakesBlock;
    bool TakesOutput = false;
    bool WscOptional = false;
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
    {"undo", {CommandKind::Undo, false, false, false, true}},
    {"history", {CommandKind::History, false, false, false, true}},
    {"patch", {CommandKind::Patch, false, false, true}},
    {"apply", {CommandKind::Apply, false, false, true}},
    {"check", {CommandKind::Check, true, false}},
    {"compact", {CommandKind::Compact, false, false}},
    {"render", {CommandKind::Render, false, false, true, true}},
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
    std::string mapText;
    std::string areaText;
    std::string scaleText;
    std::map<std::string, ValueOption> options = {{"--staidx", {&command.StaIdx, "a file name"}},
        {"--statics", {&command.Statics, "a file name"}}, {"--wsc", {&command.Wsc, "a file or folder name"}},
        {"--at", {&atText, "a position X,Y"}}, {"--map-size", {&mapSizeText, "a size WIDTHxHEIGHT"}},
        {"--new-staidx", {&command.NewStaIdx, "a file name"}}, {"--new-statics", {&command.NewStatics, "a file name"}},
        {"--server", {&command.Server, "a folder name"}}, {"--map", {&mapText, "a map number"}},
        {"--area", {&areaText, "a rectangle X1,Y1,X2,Y2"}}, {"--client", {&command.Client, "a folder name"}},
        {"--scale", {&scaleText, "a number of tiles a pixel"}}};
    const std::map<std::string, bool*> flags = {{"--dry-run", &command.DryRun}, {"--json", &command.Json},
        {"--force", &command.Force}, {"--grid", &command.Grid}, {"--server-running-ok", &command.ServerRunningOk}};
    std::map<std::string, bool> given;
    bool onlyPositional = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg); // "-5" is a block number, not an option
            continue;
        }
        if (const auto flag = flags.find(arg); flag != flags.end()) {
            if (given.count(arg))
                Fail("option '" + arg + "' is given twice");
            *flag->second = true;
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

    if (given.count("--map")) {
        if (mapText.size() != 1 || mapText[0] < '0' || mapText[0] >= '0' + MapCount)
            Fail("--map takes a map number from 0 to 5, not '" + mapText + "'");
        if (!given.count("--server"))
            Fail("--map needs --server DIR; without it, the map is the number in the files' names");
        command.Map = mapText[0] - '0';
    }
    if (name == "maps") {
        if (!given.count("--server") || given.size() != 1 || !positional.empty())
            Fail("maps needs --server DIR and nothing else");
        command.Kind = CommandKind::Maps;
        return command;
    }

    const auto shape = Commands.find(name);
    if (shape == Commands.end())
        Fail("unknown command '" + name + "'");
    command.Kind = shape->second.Kind;
    // The server's folder names whichever of the files is not given; for a
    // patch it names the current files, and the released ones are given.
    const bool server = given.count("--server") != 0;
    const bool patch = command.Kind == CommandKind::Patch;
    if ((!server || patch) && !given.count("--staidx"))
        Fail(name + " needs --staidx FILE");
    if ((!server || patch) && !given.count("--statics"))
        Fail(name + " needs --statics FILE");
    if (!server && shape->second.NeedsWsc && !given.count("--wsc"))
        Fail(name + " needs --wsc PATH");
    if (!shape->second.NeedsWsc && !shape->second.WscOptional && given.count("--wsc"))
        Fail(name + " takes no --wsc");
    for (const char* option : {"--new-staidx", "--new-statics"}) {
        if (patch && !server && !given.count(option))
            Fail(name + " needs " + option + " FILE");
        if (!patch && given.count(option))
            Fail(name + " takes no " + option);
    }
    if (command.Kind != CommandKind::Apply && command.Force)
        Fail(name + " takes no --force");
    for (const char* option : {"--client", "--scale", "--grid"})
        if (given.count(option) && command.Kind != CommandKind::Render)
            Fail(name + " takes no " + option);
    const bool takesArea = command.Kind == CommandKind::Render || command.Kind == CommandKind::List
        || command.Kind == CommandKind::Melt || command.Kind == CommandKind::Freeze
        || command.Kind == CommandKind::Export || command.Kind == CommandKind::Check;
    if (given.count("--area") && !takesArea)
        Fail(name + " takes no --area");
    if (command.Kind != CommandKind::Check && command.Json)
        Fail(name + " takes no --json");
    if (!shape->second.TakesBlock && given.count("--at"))
        Fail(name + " takes no --at");
    if (command.DryRun && command.Kind != CommandKind::Melt && command.Kind != CommandKind::Freeze
        && command.Kind != CommandKind::Apply)
        Fail(name + " takes no --dry-run");
    try {
        if (given.count("--at"))
            command.At = ParsePosition(atText);
        if (given.count("--map-size"))
            command.MapSize = ParseMapSize(mapSizeText);
        if (given.count("--area"))
            command.Area = ParseArea(areaText);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
    if (given.count("--scale")) {
        if (scaleText != "1" && scaleText != "2" && scaleText != "4" && scaleText != "8")
            Fail("Invalid scale '" + scaleText + "': give 1, 2, 4 or 8 tiles a pixel");
        command.Scale = scaleText[0] - '0';
    }
    if (command.Grid && command.Scale > 2)
        Fail("render --grid needs --scale 1 or 2, where a block is 8 or 4 pixels wide");
    // The files of a numbered map are laid out at that map's height.
    const auto indexMap = StaticsMapNumber(command.StaIdx, StaticsFileKind::Index);
    if (command.MapSize && indexMap && indexMap == StaticsMapNumber(command.Statics, StaticsFileKind::Data)
        && command.MapSize->Height != MapHeightBlocks(*indexMap))
        Fail("--map-size " + mapSizeText + " does not fit map " + std::to_string(*indexMap) + " of its files, "
            + std::to_string(MapHeightBlocks(*indexMap) * 8)
            + " tiles high; give that height, or leave --map-size out");
    if (shape->second.TakesOutput) {
        if (positional.size() != 1)
            Fail(name
                + (command.Kind == CommandKind::Apply ? " needs exactly one patch file"
                                                      : " needs exactly one output file"));
        command.Output = positional[0];
    } else if (!shape->second.TakesBlock) {
        if (!positional.empty())
            Fail(name + " takes no block numbers");
    } else if (command.At || command.Area) {
        if (command.At && command.Area)
            Fail(name + " takes --at X,Y or --area X1,Y1,X2,Y2, not both");
        if (!positional.empty())
            Fail(name + " takes the block numbers X and Y, --at X,Y or --area X1,Y1,X2,Y2, not more than one");
    } else if (positional.size() > 2) {
        Fail(name + " takes two block numbers, X and Y, not " + std::to_string(positional.size()));
    } else if (positional.size() != 2) {
        Fail(name + " needs the block numbers X and Y, --at X,Y or --area X1,Y1,X2,Y2");
    } else {
        command.XText = positional[0];
        command.YText = positional[1];
    }
    return command;
}

} // namespace cryo::cli
