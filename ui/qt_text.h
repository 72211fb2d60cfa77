#pragma once
// Crossing between the core's GBK texts and Qt's strings. Every text shown in a window passes
// through here, and every text a window hands back to the core comes out of here.

#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>

#include "text/encoding.h"

namespace tovani::ui {

/// GBK text (as the core keeps it) to a QString.
inline QString from_gbk(std::string_view text) {
    const std::string utf8 = to_utf8(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

/// A QString to GBK text for the core.
inline std::string to_gbk(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return utf8_to_text(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

/// Bytes kept beside a list cell so that the core gets back exactly what it produced.
inline QByteArray gbk_bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string from_bytes(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace tovani::ui
