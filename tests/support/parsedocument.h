#pragma once

#include "document/htmldocument.h"

#include <QByteArray>
#include <QUrl>

#include <memory>
#include <span>
#include <string>
#include <string_view>

// Tests hold pages and addresses in Qt's types; the document layer takes views of bytes and
// the address serialized.
inline std::string_view bytesView(const QByteArray &bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

inline std::unique_ptr<HtmlDocument> parseDocument(const QByteArray &page,
                                                   const QByteArray &charset, const QUrl &address,
                                                   std::span<const std::string> ids = {},
                                                   std::size_t firstPrefix = 0)
{
    return HtmlDocument::parse(bytesView(page), bytesView(charset),
                               address.toString(QUrl::FullyEncoded).toStdString(), ids,
                               firstPrefix);
}
