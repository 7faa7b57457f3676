#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Where a desktop looks for a file of the release channel, in order: IT's
// plant cache or share (mirror= in its policy), then the manifest's mirrors,
// then the channel itself. Each place stands for the channel's folder: a
// file's name in that folder (`files/<sha256>`, a package's name) is looked
// up below it. A place that fails or gives another file is skipped for that
// file; the size and SHA-256 the signed manifest lists decide, never the place.
namespace FetchPlaces {

enum class Kind { Mirror, Share, Manifest, Origin };

struct Place
{
    Kind kind = Kind::Origin;
    QUrl url; // where to GET the file; empty for a share
    QString path; // the file in a share; empty else
};

// Where else than the channel a desktop may fetch from.
struct Mirrors
{
    QUrl plant; // IT's plant cache (mirror=), as Policy read it
    QString share; // or IT's share (mirror=), a folder
    QList<QUrl> manifest; // the signed manifest's mirrors
};

// The places for the channel's file `name` (relative to the channel's
// folder), which the channel serves at `origin`, best first. A share holds
// only files by content, so it comes in for a name below files/ alone. A
// place that equals one before it is left out.
QList<Place> inOrder(const Mirrors &mirrors, const QString &name, const QUrl &origin);

// The short word for reports and the state: mirror, share, manifest or origin.
const char *word(Kind kind);

} // namespace FetchPlaces
