#include "ui/uidispatch_qt.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include "ui/app.h"

bool TQtUiDispatcher::IsUiThread() const
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void TQtUiDispatcher::Post(std::function<void()> call)
{
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

void TQtUiDispatcher::Wake()
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    if (auto* d = QAbstractEventDispatcher::instance(app->thread()))
        d->wakeUp();
}

void TQtUiDispatcher::HandleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorBox(QString());
    }
}
