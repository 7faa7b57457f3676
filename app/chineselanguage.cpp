#include "app/chineselanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void useChineseLanguage()
{
    // The web engine starts with the default locale: it picks its own texts
    // and what pages are told about the user's language from it.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China));

    // "qt" pulls in the catalogues of the modules it covers (qtbase,
    // qtdeclarative, ...); the web engine's own stands beside it. A catalogue
    // that is missing leaves those texts as Qt wrote them.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString &catalogue : { QStringLiteral("qt_zh_CN"), QStringLiteral("qtwebengine_zh_CN") }) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(catalogue, folder))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}
