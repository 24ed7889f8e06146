#include "CommandLine.h"

#include <map>

namespace cryo::cli {

const char* const UsageText = "Usage:\n"
                              "  cryoweaver-cli list   --staidx FILE --statics FILE X Y\n"
                              "  cryoweaver-cli melt   --staidx FILE --statics FILE --wsc FILE X Y\n"
                              "  cryoweaver-cli freeze --staidx FILE --statics FILE --wsc FILE\n"
                              "  cryoweaver-cli sample DIR\n"
                              "  cryoweaver-cli --help | --version\n"
                              "\n"
                              "  list    prints the static objects of block X, Y (X 0..767, Y 0..511)\n"
                              "  melt    moves block X, Y from the statics files into the world save\n"
                              "  freeze  moves every TYPE 255 item of the world save into the statics files\n"
                              "  sample  writes a small world (StaIdx0.mul, Statics0.mul, UOX3.wsc) to try\n";

namespace {

struct CommandShape {
    CommandKind Kind;
    bool NeedsWsc;
    bool TakesBlock;
};

const std::map<std::string, CommandShape> Commands = {
    {"list", {CommandKind::List, false, true}},
    {"melt", {CommandKind::Melt, true, true}},
    {"freeze", {CommandKind::Freeze, true, false}},
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
    std::map<std::string, std::string*> options
        = {{"--staidx", &command.StaIdx}, {"--statics", &command.Statics}, {"--wsc", &command.Wsc}};
    std::map<std::string, bool> given;
    bool onlyPositional = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg); // "-5" is a block number, not an option
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
        if (equals != std::string::npos) {
            *option->second = arg.substr(equals + 1);
        } else {
            if (i + 1 >= args.size())
                Fail("option '" + key + "' needs a file name");
            *option->second = args[++i];
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
        Fail(name + " needs --wsc FILE");
    if (!shape->second.NeedsWsc && given.count("--wsc"))
        Fail(name + " takes no --wsc");
    const std::size_t wanted = shape->second.TakesBlock ? 2 : 0;
    if (positional.size() != wanted)
        Fail(wanted == 2 ? name + " needs the block numbers X and Y" : name + " takes no block numbers");
    if (wanted == 2) {
        command.XText = positional[0];
        command.YText = positional[1];
    }
    return command;
}

} // namespace cryo::cli
