#pragma once

// Packaged apps that Windows 8 and later offer for images unless their classes are marked
// "NoOpenWith"; the setup program marks them and the uninstaller clears the marks again.
const wchar_t* const kPackagedAppClasses[] = {
    L"SOFTWARE\\Classes\\AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg",
    L"SOFTWARE\\Classes\\AppXk0g4vb8gvt7b93tg50ybcy892pge6jmt",
    L"SOFTWARE\\Classes\\AppX43hnxtbyyps62jhe9sqpdzxn1790zetc",
    L"SOFTWARE\\Classes\\AppX9rkaq77s0jzh1tyccadx9ghba15r6t3h",
    L"SOFTWARE\\Classes\\AppX6eg8h5sxqq90pv53845wmnbewywdqq5h",
};
