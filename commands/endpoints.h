#pragma once
// Where the link and feedback commands lead: the maker's two web hosts and
// its feedback mailbox.
#include <QString>

inline const QString SiteHost = QStringLiteral("www.tarnwick.com");
inline const QString FlashSiteHost = QStringLiteral("flash.tarnwick.com");
inline const QString FeedbackAddress = QStringLiteral("feedback@tarnwick.com");
