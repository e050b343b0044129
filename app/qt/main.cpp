// ravoth: the main window's entry point.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

#include <cerrno>

#include <vector>

#include "app/qt/main_window.h"
#include "app/window_logic.h"

namespace {

// The working directory as the file system spells it; empty when it cannot
// be had, and help then looks only in the program's own folder.
QByteArray workingDirectory()
{
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.data());
}

// The program's own help pages: beside it in the build folder and in an
// unpacked copy, in the share folder once installed.
QByteArray programHelpFolder()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    for (const std::string_view page : {ravoth::englishHelpPage, ravoth::japaneseHelpPage}) {
        const QString name = QString::fromLatin1(page.data(), static_cast<qsizetype>(page.size()));
        if (QFileInfo(QDir(programFolder).filePath(name)).isFile())
            return QFile::encodeName(programFolder);
    }
    return QFile::encodeName(
        QDir::cleanPath(programFolder + QStringLiteral("/" RAVOTH_HELP_FROM_BINARY)));
}

}  // namespace

int main(int argc, char** argv)
{
    // QApplication takes its own options out of argv, so argv[1] is where the
    // program's command line begins.
    QApplication application(argc, argv);
    ravoth::Language language = ravoth::localeLanguage();
    if (argc > 1) language = ravoth::languageFromCommandLine(argv[1], language);

    ravoth::installQtTranslation(language);
    ravoth::MainWindow window(language, workingDirectory(), programHelpFolder());
    window.show();
    return QApplication::exec();
}
