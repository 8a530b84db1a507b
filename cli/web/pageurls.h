// Where a browser opens the clock page that `web` serves.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QStringList>

// One "http://ADDRESS:PORT/" per address the page can be opened at. Served on one address, that
// one. Served on every address, each of this machine's IPv4 addresses (local) as given, loopback
// last, since the other devices of the show network need the others; only where there is no
// IPv4 address at all, its IPv6 ones but the link-local (which a URL cannot name without its
// interface). An IPv6 address in brackets.
QStringList pageUrls(const QHostAddress& served, const QList<QHostAddress>& local, quint16 port);
