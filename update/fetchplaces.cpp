#include "update/fetchplaces.h"

namespace FetchPlaces {

namespace {

// `base` as a folder: a name resolved against it lands below it, not beside it.
QUrl asFolder(QUrl base)
{
    if (!base.path().endsWith(QLatin1Char('/')))
        base.setPath(base.path() + QLatin1Char('/'));
    return base;
}

} // namespace

QList<Place> inOrder(const Mirrors &mirrors, const QString &name, const QUrl &origin)
{
    QList<Place> places;
    const auto add = [&places](const Place &place) {
        for (const Place &earlier : std::as_const(places)) {
            if (earlier.url == place.url && earlier.path == place.path)
                return;
        }
        places << place;
    };
    // A path alone: a name with a colon is no scheme.
    QUrl relative;
    relative.setPath(name);
    if (!mirrors.share.isEmpty() && name.startsWith(QLatin1String("files/")))
        add({ Kind::Share, QUrl(), mirrors.share + QLatin1Char('/') + name });
    if (!mirrors.plant.isEmpty())
        add({ Kind::Mirror, asFolder(mirrors.plant).resolved(relative), QString() });
    for (const QUrl &mirror : mirrors.manifest)
        add({ Kind::Manifest, asFolder(mirror).resolved(relative), QString() });
    add({ Kind::Origin, origin, QString() });
    return places;
}

const char *word(Kind kind)
{
    switch (kind) {
    case Kind::Mirror:
        return "mirror";
    case Kind::Share:
        return "share";
    case Kind::Manifest:
        return "manifest";
    case Kind::Origin:
        break;
    }
    return "origin";
}

} // namespace FetchPlaces
