// The freeze of 60,000 TYPE 255 items over 6,000 blocks, from a 22 MB world
// save that also holds 100,000 ordinary items: in the Qt window, from the
// click on Freeze! until the window has shown the whole log and opened its
// buttons again, beside the command line's freeze of the same files with its
// 72,003 log lines written to a file.
#include "Actions.h"
#include "BenchSupport.h"
#include "ConsoleReporter.h"
#include "FileSettingsStore.h"
#include "MainWindow.h"
#include "WorldGen.h"

#include <QApplication>
#include <QPushButton>

#include <cstdio>

namespace cryo::bench {
namespace {

struct World {
    std::string Folder = ScratchFolder("window-freeze");
    WorldFiles Files{Folder + "/StaIdx0.mul", Folder + "/Statics0.mul", Folder + "/UOX3.wsc"};

    World()
    {
        std::filesystem::create_directories(Folder + "/original");
        worldgen::WriteSampleWorld(Folder + "/original");
        worldgen::WscOptions options;
        options.Type255Items = 60000;
        options.Blocks = 6000;
        options.OrdinaryItems = 100000;
        WriteFile(Folder + "/original/UOX3.wsc", worldgen::GenerateWsc(options));
        WriteFile(Folder + "/Cryoweaver.json",
            "{\"Mode\": 0, \"StaIdx0.mul\": \"" + Files.StaIdx + "\", \"Statics0.mul\": \"" + Files.Statics
                + "\", \"UOX3.wsc\": \"" + Files.Wsc + "\"}");
        Restore();
    }

    void Restore() const
    {
        for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
            CopyFile(Folder + "/original/" + name, Folder + "/" + name);
    }
};

World& Files()
{
    static World world;
    return world;
}

void CommandLineFreeze(benchmark::State& state)
{
    const World& world = Files();
    for (auto _ : state) {
        state.PauseTiming();
        world.Restore();
        auto table = std::make_unique<StaIdx>();
        NullReporter quiet;
        LoadStaIdx(world.Files.StaIdx, *table, quiet);
        std::FILE* out = std::fopen((world.Folder + "/log.txt").c_str(), "w");
        state.ResumeTiming();
        cli::ConsoleReporter reporter(out, stderr, false);
        RunFreeze(world.Files, *table, reporter);
        std::fclose(out);
    }
}
BENCHMARK(CommandLineFreeze)->Unit(benchmark::kMillisecond)->UseRealTime();

void WindowFreeze(benchmark::State& state)
{
    const World& world = Files();
    settings::FileSettingsStore store(world.Folder + "/Cryoweaver.json");
    for (auto _ : state) {
        state.PauseTiming();
        world.Restore();
        app::MainWindow window(store);
        window.show();
        auto* load = static_cast<QPushButton*>(window.Widget(form::Control::GetStaticIndexButton));
        load->click();
        while (window.Form().Running())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        auto* freeze = static_cast<QPushButton*>(window.Widget(form::Control::FreezeWorldButton));
        state.ResumeTiming();
        freeze->click();
        while (window.Form().Running())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QApplication::processEvents();
    }
}
BENCHMARK(WindowFreeze)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace cryo::bench

int main(int argc, char** argv)
{
    // Without a display the window runs on Qt's offscreen platform.
    if (qgetenv("DISPLAY").isEmpty() && qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
