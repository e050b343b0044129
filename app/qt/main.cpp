// ravoth: the main window's entry point.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>
#include <unistd.h>

#include <cerrno>

#include <vector>

#include "app/qt/main_window.h"
#include "app/window_logic.h"

namespace {

// The working directory as the file system spells it; empty when it cannot
// be had, and help then looks only in the installed folder.
QByteArray workingDirectory()
{
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.data());
}

}  // namespace

int main(int argc, char** argv)
{
    // QApplication takes its own options out of argv, so argv[1] is where the
    // program's command line begins.
    QApplication application(argc, argv);
    ravoth::Language language = ravoth::localeLanguage();
    if (argc > 1) language = ravoth::languageFromCommandLine(argv[1], language);

    // Qt's own dialogs (the file dialog's buttons) speak the window's language.
    QTranslator qtTranslator;
    if (language == ravoth::Language::Japanese &&
        qtTranslator.load(QStringLiteral("qtbase_ja"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    const QString installedHelp = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                  QStringLiteral("/" RAVOTH_HELP_FROM_BINARY));
    ravoth::MainWindow window(language, workingDirectory(), QFile::encodeName(installedHelp));
    window.show();
    return QApplication::exec();
}
