#pragma once
// The desktop icons of the thumbnail maker: the program's icon (a framed map of terrain tiles)
// and the icon of its map files (the same map on a page with a folded corner), at any size.

#include <QImage>

struct IconTextures {
    QImage grass;
    QImage water;
    QImage wood;
    QImage stone;
};

// size x size, transparent around the picture.
QImage programIcon(int size, const IconTextures& textures);
QImage mapFileIcon(int size, const IconTextures& textures);
