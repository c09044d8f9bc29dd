#include "ui/qt/desktop_identity.h"

#include <QApplication>
#include <QGuiApplication>

namespace kfw {

QString DesktopEntryName() {
  return QStringLiteral(KFW_APP_ID);
}

QIcon ApplicationIcon() {
  // The resource (ui/CMakeLists.txt) holds the SVG under its own name. Drawing it takes Qt's SVG
  // icon engine, a plugin (Debian's libqt6svg6) that the package depends on.
  return QIcon(QStringLiteral(":/") + DesktopEntryName() + QStringLiteral(".svg"));
}

void SetDesktopIdentity() {
  QGuiApplication::setDesktopFileName(DesktopEntryName());
  QApplication::setWindowIcon(ApplicationIcon());
}

}  // namespace kfw
