#include "MainUnit.h"
#include "QtDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    try {
        StartOptions options;
        // The program's own path as it was given, links not resolved: a link placed in another
        // folder makes that folder the program's folder.
        options.programPath = QString::fromLocal8Bit(argv[0]);
        for (int i = 1; i < argc; ++i) {
            if (qstrcmp(argv[i], "--web-pages") == 0)
                options.showWebPages = true;
        }
        QtDialogs dialogs;
        TMainForm mainForm(options, dialogs);
        dialogs.SetParent(&mainForm);
        mainForm.show();
        return application.exec();
    } catch (const std::exception &error) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"),
                              QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"), QStringLiteral("Unexpected error"));
    }
    return 1;
}
