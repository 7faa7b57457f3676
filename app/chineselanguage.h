#pragma once

// Makes the shell speak Simplified Chinese whatever the system's language:
// Qt's own dialogs and buttons through Qt's catalogues, the web engine's own
// pages and controls, and the language pages are told, through the default locale.
// Called once the application object exists, before any window or web view.
void useChineseLanguage();
