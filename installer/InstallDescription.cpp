#include "InstallDescription.h"

#include "AnsiText.h"
#include "ReleaseFiles.h"
#include "TextFile.h"
#include "Unit1.h"

namespace {

constexpr size_t ValueColumn = 15; // the label takes characters 1 to 15
constexpr int TitlePadding = 33;   // blanks that paint the rest of the title strip black

QString valueOf(const std::string& line)
{
    return AnsiText::decode(line.size() > ValueColumn ? line.substr(ValueColumn) : std::string());
}

}

void ReadInstallDescription(TForm1& form)
{
    // Media often carry the name in capitals (INSTALL.INI).
    TextFileReader file(ReleaseFiles::resolve("install.ini"));
    auto next = [&file] { return valueOf(file.readLine()); };

    form.DrawBitmapText(next() + QString(TitlePadding, QLatin1Char(' ')));
    form.Label2->setText(next());
    form.Label7->setText(next());
    const QString archive = next();
    QString source = form.sourceDirectory();
    if (!source.endsWith(QLatin1Char('/')))
        source += QLatin1Char('/');
    form.Label8->setText(source + archive);
    form.Label9->setText(source);
    form.Label10->setText(next());
    form.Edit1->setText(next());
    form.Label6->setText(next() + QStringLiteral(".lnk"));
    form.Label14->setText(next());
    form.Label11->setText(next());
    form.Banner1->setScrollText(next());
}
