#include "GuiTestSupport.h"

#include "WorldGen.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace cryo::guitest {

Workspace::Workspace()
{
    if (!dir_.isValid())
        throw std::runtime_error("no temporary folder");
}

void Workspace::WriteConfig(const QByteArray& json) const
{
    WriteFile(ConfigPath(), json);
}

QByteArray Workspace::ConfigBytes() const
{
    return ReadFile(ConfigPath());
}

QJsonObject Workspace::Config() const
{
    return QJsonDocument::fromJson(ConfigBytes()).object();
}

QString Workspace::SampleWorld(const QString& name) const
{
    const QString folder = Path(name);
    QDir().mkpath(folder);
    worldgen::WriteSampleWorld(folder.toStdString());
    return folder;
}

void Workspace::StoreWorld(const QString& folder, int mode) const
{
    QJsonObject config;
    config.insert(QStringLiteral("StaIdx0.mul"), folder + QStringLiteral("/StaIdx0.mul"));
    config.insert(QStringLiteral("Statics0.mul"), folder + QStringLiteral("/Statics0.mul"));
    config.insert(QStringLiteral("UOX3.wsc"), folder + QStringLiteral("/UOX3.wsc"));
    config.insert(QStringLiteral("Mode"), mode);
    WriteConfig(QJsonDocument(config).toJson());
}

void WriteWorld(const QString& folder, const BlockItems& blocks, const QByteArray& wsc)
{
    QDir().mkpath(folder);
    StaIdx table = worldgen::EmptyIndex();
    QByteArray statics;
    for (const auto& [block, items] : blocks) {
        TStaIdxEntry& entry = table.At(std::uint16_t(block.first), std::uint16_t(block.second));
        entry.Offset = std::int32_t(statics.size());
        entry.Length = std::int32_t(items.size() * StaticItemSize);
        for (const TStaticItem& item : items) {
            unsigned char record[StaticItemSize];
            EncodeStaticItem(item, record);
            statics.append(reinterpret_cast<const char*>(record), StaticItemSize);
        }
    }
    QByteArray index(qsizetype(StaIdxFileSize), '\0');
    for (int i = 0; i < StaIdxEntryCount; ++i)
        EncodeStaIdxEntry(table.Entries[std::size_t(i)],
            reinterpret_cast<unsigned char*>(index.data()) + std::size_t(i) * StaIdxRecordSize);
    WriteFile(folder + QStringLiteral("/StaIdx0.mul"), index);
    WriteFile(folder + QStringLiteral("/Statics0.mul"), statics);
    WriteFile(folder + QStringLiteral("/UOX3.wsc"), wsc);
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Window::Window(const Workspace& workspace, bool answerYes)
    : store(workspace.ConfigPath())
    , form_(store, dialogs)
{
    dialogs.Answer = answerYes;
}

void Window::Show()
{
    form_.show();
    QApplication::setActiveWindow(&form_);
    if (!QTest::qWaitForWindowActive(&form_))
        throw std::runtime_error("the window did not become active");
}

bool Window::Enabled(const char* name) const
{
    return Get<QWidget>(name)->isEnabled();
}

void Window::Type(const char* editName, const QString& text) const
{
    QLineEdit* edit = Edit(editName);
    edit->setFocus();
    edit->selectAll();
    if (!edit->text().isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void Window::Click(const char* buttonName) const
{
    QTest::mouseClick(Get<QPushButton>(buttonName), Qt::LeftButton);
}

void Window::EnterBlock(const char* editName, const QString& text) const
{
    Type(editName, text);
    QTest::keyClick(Edit(editName), Qt::Key_Tab);
}

namespace {

QStringList Lines(const QListWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

} // namespace

QStringList Window::MainLines() const
{
    return Lines(Get<QListWidget>("MainListBox"));
}

QStringList Window::LogLines() const
{
    return Lines(Get<QListWidget>("LogListBox"));
}

int Window::Progress() const
{
    return Get<QProgressBar>("ProgressBar")->value();
}

EditColor ColorOf(const QLineEdit* edit)
{
    const QColor color = edit->palette().color(QPalette::Base);
    if (color == QColor(0, 128, 0))
        return EditColor::Green;
    if (color == QColor(255, 0, 0))
        return EditColor::Red;
    return color == QApplication::palette(edit).color(QPalette::Base) ? EditColor::Default : EditColor::Other;
}

const char* ColorName(EditColor color)
{
    switch (color) {
    case EditColor::Default:
        return "default";
    case EditColor::Green:
        return "green";
    case EditColor::Red:
        return "red";
    default:
        return "other";
    }
}

} // namespace cryo::guitest
