#include "shell/FileTypeCatalogue.h"

#include <commctrl.h>
#include <wchar.h>

// Display texts and registration in one table, so the list position and the registered extensions
// of a row can never drift apart.
const FileTypeEntry FileTypeCatalogue[fileTypeRowCount] = {
    {L"ANI", L"Animated Windows Cursors *", kIconOfFile, 1, {{L"ani", NULL}}},
    {L"B3D", L"BodyPaint 3D Format *", kIconViewer, 1, {{L"b3d", NULL}}},
    {L"BMP/DIB", L"Windows Bitmap", kIconViewer, 2, {{L"bmp", NULL}, {L"dib", L"bmp"}}},
    {L"CLP", L"Windows Clipboard *", kIconViewer, 1, {{L"clp", NULL}}},
    {L"CRW/CR2/CR3", L"Canon RAW Format *", kIconViewer, 3, {{L"crw", NULL}, {L"cr2", NULL}, {L"cr3", NULL}}},
    {L"CUR", L"Windows Cursor", kIconOfFile, 1, {{L"cur", NULL}}},
    {L"DCM/ACR/IMA", L"DICOM Format *", kIconViewer, 3, {{L"dcm", NULL}, {L"acr", L"dcm"}, {L"ima", L"dcm"}}},
    {L"DCX", L"Multipage Zsoft Paintbrush", kIconViewer, 1, {{L"dcx", NULL}}},
    {L"DDS", L"Direct Draw Surface *", kIconViewer, 1, {{L"dds", NULL}}},
    {L"DJVU/IW44", L"DjVu Format *", kIconViewer, 2, {{L"djvu", NULL}, {L"iw44", L"djvu"}}},
    {L"DXF", L"Drawing Interchange Format *", kIconViewer, 1, {{L"dxf", NULL}}},
    {L"ECW", L"Enhanced Compressed Wavelet *", kIconViewer, 1, {{L"ecw", NULL}}},
    {L"EMF", L"Enhanced Windows Metafile", kIconViewer, 1, {{L"emf", NULL}}},
    {L"EPS/PS", L"PostScript Format *", kIconViewer, 2, {{L"eps", NULL}, {L"ps", L"eps"}}},
    {L"EXR", L"EXR Format *", kIconViewer, 1, {{L"exr", NULL}}},
    {L"G3", L"G3 FAX Format *", kIconViewer, 1, {{L"g3", NULL}}},
    {L"GIF", L"Compuserve GIF", kIconViewer, 1, {{L"gif", NULL}}},
    {L"HDP/JXR/WDP",
     L"JPEG-XR/HD-Photo Format *",
     kIconViewer,
     3,
     {{L"hdp", NULL}, {L"jxr", L"hdp"}, {L"wdp", L"hdp"}}},
    {L"HEIC", L"High Efficiency Image File Format *", kIconViewer, 1, {{L"heic", NULL}}},
    {L"ICO", L"Windows Icon", kIconOfFile, 1, {{L"ico", NULL}}},
    {L"IFF/LBM", L"Amiga Interchange File Format *", kIconViewer, 2, {{L"iff", NULL}, {L"lbm", L"iff"}}},
    {L"JLS", L"JPEG-LS Format *", kIconViewer, 1, {{L"jls", NULL}}},
    {L"JP2/JPC/J2K",
     L"JPEG2000 Format *",
     kIconViewer,
     3,
     {{L"jp2", NULL}, {L"jpc", L"jp2"}, {L"j2k", L"jp2"}}},
    {L"JPG/JPEG/JFIF/JPE",
     L"JPEG Format",
     kIconViewer,
     4,
     {{L"jpg", NULL}, {L"jpeg", L"jpg"}, {L"jfif", L"jpg"}, {L"jpe", L"jpg"}}},
    {L"JPM", L"JPM Format *", kIconViewer, 1, {{L"jpm", NULL}}},
    {L"JXL", L"JPEG XL Format *", kIconViewer, 1, {{L"jxl", NULL}}},
    {L"MNG/JNG", L"Multiple Network Graphics *", kIconViewer, 2, {{L"mng", NULL}, {L"jng", NULL}}},
    {L"PBM", L"Portable Bitmap", kIconViewer, 1, {{L"pbm", NULL}}},
    {L"PCD", L"Kodak Photo CD", kIconViewer, 1, {{L"pcd", NULL}}},
    {L"PCX", L"Zsoft Paintbrush", kIconViewer, 1, {{L"pcx", NULL}}},
    {L"PGM", L"Portable Greymap", kIconViewer, 1, {{L"pgm", NULL}}},
    {L"PNG", L"Portable Network Graphics", kIconViewer, 1, {{L"png", NULL}}},
    {L"PPM", L"Portable Pixelmap", kIconViewer, 1, {{L"ppm", NULL}}},
    {L"PSD", L"Adobe Photoshop Image", kIconViewer, 1, {{L"psd", NULL}}},
    {L"PSP", L"Paint Shop Pro Image *", kIconViewer, 1, {{L"psp", NULL}}},
    {L"QOI", L"Quite OK Image *", kIconViewer, 1, {{L"qoi", NULL}}},
    {L"RAS/SUN", L"Sun Raster Format *", kIconViewer, 2, {{L"ras", NULL}, {L"sun", L"ras"}}},
    {L"RAW", L"RAW Image Data *", kIconViewer, 1, {{L"raw", NULL}}},
    {L"RLE", L"Utah RLE Format *", kIconViewer, 1, {{L"rle", NULL}}},
    {L"SFF", L"Structured Fax Format *", kIconViewer, 1, {{L"sff", NULL}}},
    {L"SGI/RGB", L"Silicon Graphics Image *", kIconViewer, 2, {{L"sgi", NULL}, {L"rgb", L"sgi"}}},
    {L"SID", L"LizardTech MrSID Format *", kIconViewer, 1, {{L"sid", NULL}}},
    {L"TGA", L"Truevision Targa", kIconViewer, 1, {{L"tga", NULL}}},
    {L"TIF/TIFF", L"Tagged Image File Format", kIconViewer, 2, {{L"tif", NULL}, {L"tiff", L"tif"}}},
    {L"WBMP", L"WAP Bitmap *", kIconViewer, 1, {{L"wbmp", NULL}}},
    {L"WEBP", L"Weppy Format *", kIconViewer, 1, {{L"webp", NULL}}},
    {L"WMF", L"Windows Metafile", kIconViewer, 1, {{L"wmf", NULL}}},
    {L"XBM", L"X-Bitmap *", kIconViewer, 1, {{L"xbm", NULL}}},
    {L"XPM", L"X-Pixmap *", kIconViewer, 1, {{L"xpm", NULL}}},
    {L"SWF/FLV", L"Macromedia Flash Format *", kIconViewer, 2, {{L"swf", NULL}, {L"flv", NULL}}},
    {L"TTF", L"True Type Font Format *", kIconViewer, 1, {{L"ttf", NULL}}},
    {L"ASF", L"Advanced Systems Format *", kIconViewerVideo, 1, {{L"asf", NULL}}},
    {L"AVI", L"Video for Windows *", kIconViewerVideo, 1, {{L"avi", NULL}}},
    {L"MPG/MPE/MPEG",
     L"MPEG Movie *",
     kIconViewerVideo,
     3,
     {{L"mpg", NULL}, {L"mpe", NULL}, {L"mpeg", L"mpg"}}},
    {L"MOV", L"Apple QuickTime Movie *", kIconViewerVideo, 1, {{L"mov", NULL}}},
    {L"WMV", L"Windows Media Video File *", kIconViewerVideo, 1, {{L"wmv", NULL}}},
    {L"AIF", L"Audio Interchange Format *", kIconViewerAudio, 1, {{L"aif", NULL}}},
    {L"MID/RMI", L"MIDI Sound Format *", kIconViewerAudio, 2, {{L"mid", NULL}, {L"rmi", NULL}}},
    {L"MP3", L"MPEG Audio Format *", kIconViewerAudio, 1, {{L"mp3", NULL}}},
    {L"OGG", L"Ogg Vorbis Audio Format *", kIconViewerAudio, 1, {{L"ogg", NULL}}},
    {L"AU/SND", L"SUN Audio Format *", kIconViewerAudio, 2, {{L"au", NULL}, {L"snd", L"au"}}},
    {L"WAV", L"Windows Audio Format *", kIconViewerAudio, 1, {{L"wav", NULL}}},
    {L"WMA", L"Windows Media Audio File *", kIconViewerAudio, 1, {{L"wma", NULL}}},
};

void InsertFileTypeRow(HWND list, const wchar_t* extensions, const wchar_t* description, int initialCheck,
                       int position) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = position;
    item.pszText = (LPWSTR)extensions;
    item.cchTextMax = (int)wcslen(extensions) + 1;
    int index = (int)SendMessageW(list, LVM_INSERTITEMW, 0, (LPARAM)&item);
    if (index < 0)
        return;

    LVITEMW subItem = {};
    subItem.iSubItem = 1;
    subItem.pszText = (LPWSTR)description;
    SendMessageW(list, LVM_SETITEMTEXTW, index, (LPARAM)&subItem);

    if (initialCheck) {
        LVITEMW state = {};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(2);
        SendMessageW(list, LVM_SETITEMSTATE, index, (LPARAM)&state);
    }
}
