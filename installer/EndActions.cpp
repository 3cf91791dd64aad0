#include "EndActions.h"

#include "AnsiText.h"
#include "CurrentDirectory.h"
#include "FileNames.h"
#include "ReleaseFiles.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QFile>

namespace {

std::string localPath(const QString& path)
{
    return FileNames::encode(path);
}

void RegisterFile(const QString& registryFile)
{
    Shell::ShellExecute(QStringLiteral("regedit.exe"), registryFile);
}

void OpenFolderWindow(const QString& directory)
{
    Shell::ShellExecute(QStringLiteral("explorer.exe"), directory);
}

}

void RunEndActions()
{
    CurrentDirectory::set(localPath(Form1->sourceDirectory()));

    const std::string registry = localPath(AnsiText::releasePath(Form1->Edit1->text()));
    if (ReleaseFiles::isFile(registry))
        RegisterFile(FileNames::decode(ReleaseFiles::resolve(registry)));

    const QString destination = Form2->DirectoryListBox1->Directory();
    OpenFolderWindow(destination);

    TKvShellLink* link = Form1->KvShellLink1;
    const QString program = AnsiText::releasePath(Form1->Label14->text());
    link->setWorkingDir(destination);
    link->setTarget(destination.endsWith(QLatin1Char('/')) ? destination + program : destination + QLatin1Char('/') + program);
    link->fileIcon()->setFileName(link->target());
    link->fileIcon()->setIconIndex(0);
    link->setFileName(Form1->Label6->text());
    link->CreateLink();
}
