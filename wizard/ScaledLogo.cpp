#include "wizard/WizPropertyPage.h"

#include "res/resource.h"

#include <stdlib.h>

void ScaleDownPixels(const DWORD* source, int sourceWidth, int sourceHeight, DWORD* target, int width,
                     int height) {
    for (int y = 0; y < height; ++y) {
        int top = y * sourceHeight / height, bottom = (y + 1) * sourceHeight / height;
        if (bottom <= top)
            bottom = top + 1;
        for (int x = 0; x < width; ++x) {
            int left = x * sourceWidth / width, right = (x + 1) * sourceWidth / width;
            if (right <= left)
                right = left + 1;
            unsigned sum[3] = {0, 0, 0}, count = 0;
            for (int sy = top; sy < bottom; ++sy)
                for (int sx = left; sx < right; ++sx, ++count)
                    for (int channel = 0; channel < 3; ++channel)
                        sum[channel] += (source[sy * sourceWidth + sx] >> (8 * channel)) & 0xFF;
            DWORD pixel = 0xFF000000;
            for (int channel = 0; channel < 3; ++channel)
                pixel |= ((sum[channel] + count / 2) / count) << (8 * channel);
            target[y * width + x] = pixel;
        }
    }
}

// The static keeps its size from the template (it grows with the dialog's font, so with the scale of
// the screen); the logo, drawn large, is averaged down to fit it.
void ShowScaledLogo(HWND control) {
    RECT box;
    if (control == NULL || !GetClientRect(control, &box) || box.right <= 0 || box.bottom <= 0)
        return;
    HBITMAP source = (HBITMAP)LoadImageW(GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0,
                                         0, LR_CREATEDIBSECTION);
    BITMAP size;
    if (source == NULL || !GetObjectW(source, sizeof size, &size) || size.bmWidth <= 0 ||
        size.bmHeight <= 0) {
        if (source != NULL)
            DeleteObject(source);
        return;
    }
    int height = box.bottom, width = MulDiv(height, size.bmWidth, size.bmHeight);
    if (width > box.right) {
        width = box.right;
        height = MulDiv(width, size.bmHeight, size.bmWidth);
    }
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = size.bmWidth;
    format.bmiHeader.biHeight = -size.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    DWORD* pixels = (DWORD*)malloc((size_t)size.bmWidth * size.bmHeight * sizeof(DWORD));
    HDC screen = GetDC(NULL);
    HBITMAP scaled = NULL;
    void* bits = NULL;
    if (pixels != NULL && GetDIBits(screen, source, 0, size.bmHeight, pixels, &format, DIB_RGB_COLORS)) {
        format.bmiHeader.biWidth = width;
        format.bmiHeader.biHeight = -height;
        scaled = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, NULL, 0);
        if (scaled != NULL)
            ScaleDownPixels(pixels, size.bmWidth, size.bmHeight, (DWORD*)bits, width, height);
    }
    ReleaseDC(NULL, screen);
    free(pixels);
    DeleteObject(source);
    if (scaled == NULL)
        return;
    SetWindowPos(control, NULL, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HBITMAP earlier = (HBITMAP)SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)scaled);
    if (earlier != NULL && earlier != scaled)
        DeleteObject(earlier);
}
