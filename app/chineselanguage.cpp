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

    // windeployqt merges the catalogues of the modules in use into "qt"; a Qt
    // installation's "qt" pulls in only qtbase's and a few others, the Quick
    // controls' and the web engine's stand beside it. A catalogue that is
    // missing leaves its texts as Qt wrote them.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString &catalogue : { QStringLiteral("qt_zh_CN"), QStringLiteral("qtdeclarative_zh_CN"),
                                      QStringLiteral("qtwebengine_zh_CN") }) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(catalogue, folder))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}
