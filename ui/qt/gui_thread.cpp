#include "ui/qt/gui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kfw {

bool OnGuiThread() {
  QCoreApplication* application = QCoreApplication::instance();
  return application && QThread::currentThread() == application->thread();
}

void RunOnGuiThread(const std::function<void()>& work) {
  if (OnGuiThread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void PostToGuiThread(std::function<void()> work) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

}  // namespace kfw
