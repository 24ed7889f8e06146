// cryoweaver-cli: the list, melt, freeze, check and compact actions of the
// window for servers without a display, the players' patches and the picture
// of the map.
#include "Actions.h"
#include "ApplyPatch.h"
#include "Check.h"
#include "CheckJson.h"
#include "CommandLine.h"
#include "ConsoleReporter.h"
#include "Convert.h"
#include "Error.h"
#include "File.h"
#include "Interrupt.h"
#include "MakePatch.h"
#include "MapSizes.h"
#include "Render.h"
#include "RunningServer.h"
#include "ServerRun.h"
#include "StaIdx.h"
#include "Text.h"
#include "Undo.h"
#include "Version.h"
#include "WorldGen.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <csignal>
#endif

namespace {

using namespace cryo;

constexpr const char* ProgramName = "cryoweaver-cli";

void WriteSample(const std::string& folder)
{
    MakeFolder(folder);
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}) {
        if (PathExists(prefix + name))
            throw Error("'" + prefix + name + "' already exists; the sample never overwrites a file");
    }
    worldgen::WriteSampleWorld(folder);
    for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
        std::printf("Wrote %s%s\n", prefix.c_str(), name);
}

// The block numbers of the block at a world position of the loaded map.
std::pair<std::string, std::string> BlockAt(TilePosition position, const StaIdx& table)
{
    if (position.X / 8 >= table.Width() || position.Y / 8 >= table.Height())
        throw Error("The position " + std::to_string(position.X) + "," + std::to_string(position.Y)
            + " lies outside the map of " + std::to_string(table.Width() * 8) + " x "
            + std::to_string(table.Height() * 8) + " tiles");
    return {std::to_string(position.X / 8), std::to_string(position.Y / 8)};
}

// "Range check error", as the window says it, and which number lies outside
// which range of the loaded map.
void CheckBlockRange(const std::string& xText, const std::string& yText, const StaIdx& table)
{
    for (const auto& [axis, text, count] :
        {std::tuple{"X", &xText, table.Width()}, std::tuple{"Y", &yText, table.Height()}}) {
        const std::int32_t value = StrToInt(*text);
        if (value < 0 || value >= count)
            throw Error(std::string(RangeError().what()) + ": " + axis + " block " + std::to_string(value)
                + " is outside 0.." + std::to_string(count - 1));
    }
}

int Run(const cli::Command& command, cli::ConsoleReporter& reporter)
{
    switch (command.Kind) {
    case cli::CommandKind::Help:
        std::fputs(cli::UsageText, stdout);
        return 0;
    case cli::CommandKind::Version:
        std::printf("%s %s\n", ProgramName, VersionText);
        return 0;
    case cli::CommandKind::Sample:
        WriteSample(command.Folder);
        return 0;
    default:
        break;
    }

    if (command.Kind == cli::CommandKind::Maps) {
        cli::ListServerMaps(command, reporter);
        return 0;
    }
    const cli::CommandWorld world = cli::ResolveCommandWorld(command);
    cli::CheckForRunningServer(command, world);
    const WorldFiles& files = world.Files;
    if (command.Kind == cli::CommandKind::Undo) {
        UndoLastOperation(files, reporter);
        return 0;
    }
    if (command.Kind == cli::CommandKind::Render) {
        RenderMapPicture(
            {files, command.Client, command.Area, command.Scale, command.Grid, world.Map(command), command.Output},
            reporter);
        return 0;
    }
    if (command.Kind == cli::CommandKind::Patch) {
        // With the server's folder, its files are the current ones.
        const StaticsPair current = world.Server ? StaticsPair{world.Server->StaIdx, world.Server->Statics}
                                                 : StaticsPair{command.NewStaIdx, command.NewStatics};
        MakePatch({command.StaIdx, command.Statics}, current, command.Output, reporter, world.Map(command).Size);
        return 0;
    }
    if (command.Kind == cli::CommandKind::History) {
        const std::vector<HistoryEntry> operations = UndoableOperations(files);
        if (operations.empty())
            reporter.Log("Nothing to undo for " + files.StaIdx);
        for (const HistoryEntry& operation : operations)
            reporter.Log(operation.When + "  " + operation.What);
        return 0;
    }
    auto table = std::make_unique<StaIdx>(MapBlocks{0, 0}); // the load gives it its size
    std::optional<LockedWorld> locked;
    // The block numbers are checked before the index is read, their range once the map's size is known.
    const bool blockNumbers = (command.Kind == cli::CommandKind::List || command.Kind == cli::CommandKind::Melt)
        && !command.At && !command.Area;
    if (blockNumbers) {
        StrToInt(command.XText);
        StrToInt(command.YText);
    }
    if (command.Kind == cli::CommandKind::Export)
        CheckDistinctFiles(files, command.Output);
    // A dry run makes no lock file, as a listing does not.
    if (command.Kind == cli::CommandKind::List || command.Kind == cli::CommandKind::Check || command.DryRun) {
        RecoverBeforeReading(files, reporter);
    } else {
        locked.emplace(files, reporter);
    }
    LoadStaIdx(files.StaIdx, *table, reporter, world.Map(command));
    if (command.Kind == cli::CommandKind::Check) {
        std::optional<BlockArea> area;
        if (command.Area)
            area = BlocksTouching(*command.Area, {table->Width(), table->Height()});
        CheckReport report = CheckWorld(files, *table, reporter, area);
        cli::AddServerWarnings(world, *table, report);
        reporter.ClearProgress();
        if (command.Json) {
            std::fputs(cli::CheckJson(report, files, table->Size()).c_str(), stdout);
        } else {
            for (const std::string& line : CheckReportLines(report))
                reporter.Log(line);
        }
        return report.Healthy() ? 0 : 1;
    }
    if (blockNumbers)
        CheckBlockRange(command.XText, command.YText, *table);
    const auto [xText, yText] = command.At ? BlockAt(*command.At, *table) : std::pair{command.XText, command.YText};
    if (command.Area && command.Kind == cli::CommandKind::List) {
        for (const std::string& line : ListStaticArea(files.Statics, *table, *command.Area, reporter))
            reporter.Log(line);
        return 0;
    }
    if (command.Area && command.Kind == cli::CommandKind::Melt) {
        RunMelt(files, *command.Area, *table, reporter, command.DryRun);
        return 0;
    }
    switch (command.Kind) {
    case cli::CommandKind::List:
        for (const std::string& line : ListStaticBlock(files.Statics, *table, xText, yText, reporter))
            reporter.Log(line);
        break;
    case cli::CommandKind::Melt:
        RunMelt(files, xText, yText, *table, reporter, command.DryRun);
        break;
    case cli::CommandKind::Freeze:
        RunFreeze(files, *table, reporter, command.DryRun, command.Area);
        break;
    case cli::CommandKind::Compact:
        RunCompact(files, *table, reporter);
        break;
    case cli::CommandKind::Export:
        RunExport(files, command.Output, *table, reporter, command.Area);
        break;
    case cli::CommandKind::Apply:
        RunApplyPatch(files.StaIdx, files.Statics, command.Output, *table, reporter,
            {.Force = command.Force, .DryRun = command.DryRun});
        break;
    default:
        break;
    }
    return 0;
}

// SIGINT and SIGTERM (Ctrl+C and Ctrl+Break on Windows) stop the run at its
// next file operation, as an error would; a second one ends it at once, which
// the journal of a commit in progress survives as it survives a kill.
#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    interrupt::Request(event == CTRL_C_EVENT ? "Ctrl+C" : "Ctrl+Break");
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    return TRUE;
}

void StopOnSignals()
{
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
#else
void OnSignal(int signal)
{
    interrupt::Request(signal == SIGINT ? "SIGINT" : "SIGTERM");
}

void StopOnSignals()
{
    struct sigaction action { };
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#endif

// The arguments without the program name, as UTF-8 like every path in the core.
std::vector<std::string> Arguments(int argc, char** argv)
{
#ifdef _WIN32
    // argv holds the ANSI code page's approximation of the command line.
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), length, nullptr, nullptr);
        arg.pop_back();
        args.push_back(std::move(arg));
    }
    ::LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = Arguments(argc, argv);
    cli::Command command;
    try {
        command = cli::ParseCommandLine(args);
    } catch (const cli::UsageError& error) {
        std::fprintf(stderr, "%s: %s\n\n%s", ProgramName, error.Text.c_str(), cli::UsageText);
        return 2;
    }

    cli::ConsoleReporter reporter(stdout, stderr, StandardErrorIsTerminal());
    StopOnSignals();
    try {
        const int status = Run(command, reporter);
        reporter.ClearProgress();
        std::fflush(stdout);
        return std::ferror(stdout) ? 1 : status;
    } catch (const std::exception& error) {
        reporter.ClearProgress();
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", ProgramName, ErrorLine(error).c_str());
        if (dynamic_cast<const ServerRunningError*>(&error) != nullptr)
            std::fprintf(stderr, "%s: %s\n", ProgramName, cli::ServerRunningOkHint);
        return 1;
    }
}
