#include "gui_test_env.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include <cstdlib>
#include <memory>

namespace {

void message_handler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && text.contains(QStringLiteral("thread"), Qt::CaseInsensitive))
        ADD_FAILURE() << "Qt warning about threads: " << text.toStdString();
}

class qt_environment : public testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        qInstallMessageHandler(message_handler);
        static int argc = 1;
        static char name[] = "test_gui";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new qt_environment);

}  // namespace

void gui_pump_until(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}
