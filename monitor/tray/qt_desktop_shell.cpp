#include "monitor/tray/qt_desktop_shell.hpp"

#include "util/version.hpp"

#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace plexmill::monitor {

namespace {

QStringList argumentsOf(const Command& command) {
    QStringList arguments;
    for (std::size_t index = 1; index < command.size(); ++index) {
        arguments << QString::fromStdString(command[index]);
    }
    return arguments;
}

} // namespace

void QtDesktopShell::runHidden(const Command& command, std::function<void()> finished) {
    auto* process = new QProcess;
    // What plexmilld reports goes where the monitor's own messages go.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    auto done = [process, finished] {
        process->deleteLater();
        finished();
    };
    QObject::connect(
        process, &QProcess::finished, process, [done](int, QProcess::ExitStatus) { done(); });
    // A program that cannot be started never finishes.
    QObject::connect(
        process, &QProcess::errorOccurred, process, [done](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                done();
            }
        });
    process->start(QString::fromStdString(command.front()), argumentsOf(command));
}

bool QtDesktopShell::startDetached(const Command& command) {
    return QProcess::startDetached(QString::fromStdString(command.front()), argumentsOf(command));
}

bool QtDesktopShell::open(const std::string& target) {
    QString text = QString::fromStdString(target);
    return QDesktopServices::openUrl(target.starts_with('/') ? QUrl::fromLocalFile(text)
                                                             : QUrl(text));
}

void QtDesktopShell::showError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical,
                    QString::fromUtf8(tnw::util::kProductName),
                    QString::fromStdString(text));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

} // namespace plexmill::monitor
