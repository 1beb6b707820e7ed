#include "UI/SymbolIcon.hpp"

#include <map>

namespace quorvane {

QString freedesktopIconName(const QString& symbolName) {
    static const std::map<QString, QString> names = {
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok-symbolic")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("help-about")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("window-close")},
        {QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("view-fullscreen")},
        {QStringLiteral("arrow.down.right.and.arrow.up.left"), QStringLiteral("view-restore")},
    };
    const auto found = names.find(symbolName);
    return found == names.end() ? QString() : found->second;
}

QIcon symbolIcon(const QString& symbolName) {
    const QIcon bundled(QStringLiteral(":/icons/%1.svg").arg(symbolName));
    const QString themeName = freedesktopIconName(symbolName);
    if (themeName.isEmpty()) {
        return bundled;
    }
    return QIcon::fromTheme(themeName, bundled);
}

} // namespace quorvane
