// Shows one of the Qt dialogs the way the service does (asked from a worker
// thread, shown on the GUI thread) and prints the answer, so that the
// desktop tests can drive the real windows with X input.
//   shell_dialog_probe chooser|pin|open|save [proposed name]
// Prints "answer VALUE" or "cancel".
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <thread>

#include "shell/qt_dialogs.h"

static void load_icon_resources() { Q_INIT_RESOURCE(icons); }

using namespace sealdesk;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string kind = argv[1];
    const std::u16string proposed = argc > 2 ? QString::fromLocal8Bit(argv[2]).toStdU16String() : u"";
    QApplication app(argc, argv);
    load_icon_resources();
    shell::QtDialogs dialogs;
    std::string answer = "cancel";
    std::thread asker([&] {
        if (kind == "chooser") {
            const std::vector<platform::CertificateChoice> choices = {
                {"AA", u"Nguy\u1ec5n V\u0103n An", u"Darvolk-CA Test", 1704067200, 1798675200, u"Darvolk Token"},
                {"BB", u"C\u00f4ng ty B\u00ecnh Minh", u"Darvolk-CA Test", 1700000000, 1800000000, u"softhsm2"},
            };
            if (auto picked = dialogs.choose_certificate(choices)) answer = "answer " + std::to_string(*picked);
        } else if (kind == "pin") {
            if (auto pin = dialogs.enter_pin({u"Darvolk Token 01", 3, false})) answer = "answer " + *pin;
        } else {
            platform::FileRequest request;
            request.filters = {{u"PDF Files", u"*.PDF;*.pdf"},
                               {u"Office Files", u"*.docx;*.DOCX;*.doc;*.DOC;*.xlsx;*.XLSX;*.xls;*.XLS"},
                               {u"PDF Files, Office Files", u"*.PDF;*.pdf;*.docx;*.DOCX;*.doc;*.DOC;*.xlsx;*.XLSX;*.xls;*.XLS"},
                               {u"XML Files", u"*.xml;*.XML"},
                               {u"All files(*.*)", u"*.*"}};
            request.selected_filter = 4;
            request.proposed_name = proposed;
            auto path = kind == "save" ? dialogs.save_file(request) : dialogs.open_file(request);
            if (path) answer = "answer " + QString::fromStdU16String(*path).toStdString();
        }
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    const int status = app.exec();
    asker.join();
    std::printf("%s\n", answer.c_str());
    return status;
}
