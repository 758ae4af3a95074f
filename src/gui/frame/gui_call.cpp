#include "gui/frame/gui_call.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "tk/tk_logger.h"
#include "tk/tk_thread.h"

namespace {

std::atomic<bool> sheet_closed{false};
std::function<void(QDialog&)> modal_hook;    // GUI thread only
std::vector<QPointer<QDialog>> open_modals;  // GUI thread only

// The state a waiting caller shares with its posted call.
struct pending_call {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool started = false;
    bool done = false;
    bool abandoned = false;
};

void run_logged(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        tk_log(3, "GUI call failed: %s", e.what());
    } catch (...) {
        tk_log(3, "GUI call failed: unknown exception");
    }
}

QObject* gui_context() { return QCoreApplication::instance(); }

}  // namespace

bool gui_call::on_gui_thread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void gui_call::set_closed(bool closed) { sheet_closed.store(closed, std::memory_order_release); }

bool gui_call::is_closed() { return sheet_closed.load(std::memory_order_acquire); }

bool gui_call::should_give_up() {
    if (is_closed()) return true;
    const tk_thread_functor* worker = tk_thread::current_functor();
    return worker != nullptr && worker->stop_requested();
}

bool gui_call::run(const std::function<void()>& fn) {
    if (should_give_up() || gui_context() == nullptr) return false;
    if (on_gui_thread()) {
        run_logged(fn);
        return !should_give_up();
    }

    auto state = std::make_shared<pending_call>();
    // fn is captured by reference: the caller waits until it has returned
    // or will never start.
    const std::function<void()>* target = &fn;
    QMetaObject::invokeMethod(
        gui_context(),
        [state, target] {
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                if (state->abandoned) return;
                state->started = true;
            }
            run_logged(*target);
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->done = true;
            }
            state->done_cv.notify_all();
        },
        Qt::QueuedConnection);

    bool gave_up = false;
    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->done) {
        state->done_cv.wait_for(lock, std::chrono::milliseconds(20));
        if (state->done || gave_up || !should_give_up()) continue;
        gave_up = true;
        if (!state->started) {
            state->abandoned = true;
            return false;
        }
        // The call shows a dialog: close it and wait until it has let go of fn.
        lock.unlock();
        QMetaObject::invokeMethod(
            gui_context(), [] { close_modals(); }, Qt::QueuedConnection);
        lock.lock();
    }
    // A dialog closed because the sheet closed gave no answer.
    return !gave_up && !should_give_up();
}

void gui_call::post(std::function<void()> fn) {
    if (gui_context() == nullptr) return;
    QMetaObject::invokeMethod(
        gui_context(),
        [fn = std::move(fn)] {
            if (!is_closed()) run_logged(fn);
        },
        Qt::QueuedConnection);
}

int gui_call::exec_modal(QDialog& dialog) {
    dialog.setWindowModality(dialog.parentWidget() != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    open_modals.emplace_back(&dialog);
    if (modal_hook) {
        std::function<void(QDialog&)> hook = modal_hook;
        QPointer<QDialog> guarded(&dialog);
        QTimer::singleShot(0, &dialog, [hook, guarded] {
            if (guarded) hook(*guarded);
        });
    }
    if (should_give_up()) QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
    const int result = dialog.exec();
    open_modals.erase(
        std::remove_if(open_modals.begin(), open_modals.end(),
                       [&dialog](const QPointer<QDialog>& p) { return p.isNull() || p.data() == &dialog; }),
        open_modals.end());
    return result;
}

void gui_call::close_modals() {
    const std::vector<QPointer<QDialog>> copy = open_modals;
    for (const QPointer<QDialog>& dialog : copy)
        if (dialog) dialog->reject();
}

void gui_call::set_modal_hook(std::function<void(QDialog&)> hook) { modal_hook = std::move(hook); }
