#pragma once

// Qt's own words (the OK and Cancel of dialogs, the text box's menu) in Japanese, to match the
// window's captions whatever the system's language. Needs the application object; false when
// Qt's translation is not installed (Debian package qt6-translations-l10n), and Qt's words
// then stay English.
bool LoadQtJapanese();
