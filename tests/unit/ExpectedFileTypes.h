#pragma once
// The registration table of the file types, written out independently of the program's table:
// per row its extensions in order ("x=y" when x joins the class of y) and its icon value, where
// ",N" stands for the viewer's executable followed by ",N".
#include <string>
#include <utility>
#include <vector>

struct ExpectedRow {
    const wchar_t* extensions;
    const wchar_t* icon;
};

const ExpectedRow kExpectedRows[63] = {
    {L"ani", L"%1"},
    {L"b3d", L",0"},
    {L"bmp dib=bmp", L",0"},
    {L"clp", L",0"},
    {L"crw cr2 cr3", L",0"},
    {L"cur", L"%1"},
    {L"dcm acr=dcm ima=dcm", L",0"},
    {L"dcx", L",0"},
    {L"dds", L",0"},
    {L"djvu iw44=djvu", L",0"},
    {L"dxf", L",0"},
    {L"ecw", L",0"},
    {L"emf", L",0"},
    {L"eps ps=eps", L",0"},
    {L"exr", L",0"},
    {L"g3", L",0"},
    {L"gif", L",0"},
    {L"hdp jxr=hdp wdp=hdp", L",0"},
    {L"heic", L",0"},
    {L"ico", L"%1"},
    {L"iff lbm=iff", L",0"},
    {L"jls", L",0"},
    {L"jp2 jpc=jp2 j2k=jp2", L",0"},
    {L"jpg jpeg=jpg jfif=jpg jpe=jpg", L",0"},
    {L"jpm", L",0"},
    {L"jxl", L",0"},
    {L"mng jng", L",0"},
    {L"pbm", L",0"},
    {L"pcd", L",0"},
    {L"pcx", L",0"},
    {L"pgm", L",0"},
    {L"png", L",0"},
    {L"ppm", L",0"},
    {L"psd", L",0"},
    {L"psp", L",0"},
    {L"qoi", L",0"},
    {L"ras sun=ras", L",0"},
    {L"raw", L",0"},
    {L"rle", L",0"},
    {L"sff", L",0"},
    {L"sgi rgb=sgi", L",0"},
    {L"sid", L",0"},
    {L"tga", L",0"},
    {L"tif tiff=tif", L",0"},
    {L"wbmp", L",0"},
    {L"webp", L",0"},
    {L"wmf", L",0"},
    {L"xbm", L",0"},
    {L"xpm", L",0"},
    {L"swf flv", L",0"},
    {L"ttf", L",0"},
    {L"asf", L",9"},
    {L"avi", L",9"},
    {L"mpg mpe mpeg=mpg", L",9"},
    {L"mov", L",9"},
    {L"wmv", L",9"},
    {L"aif", L",8"},
    {L"mid rmi", L",8"},
    {L"mp3", L",8"},
    {L"ogg", L",8"},
    {L"au snd=au", L",8"},
    {L"wav", L",8"},
    {L"wma", L",8"},
};

// (extension, class suffix) pairs of one row, in registration order.
inline std::vector<std::pair<std::wstring, std::wstring>> ExpectedExtensions(int row) {
    std::vector<std::pair<std::wstring, std::wstring>> result;
    std::wstring text = kExpectedRows[row].extensions;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L' ', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring word = text.substr(start, end - start);
        size_t equals = word.find(L'=');
        if (equals == std::wstring::npos)
            result.push_back({word, word});
        else
            result.push_back({word.substr(0, equals), word.substr(equals + 1)});
        start = end + 1;
    }
    return result;
}
