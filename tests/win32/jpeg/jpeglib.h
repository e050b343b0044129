// The part of libjpeg's compression interface that the test fixture uses,
// for the Windows test build, where Debian ships no libjpeg for mingw-w64.
// Behind it is a small baseline encoder (jpeg_encoder.cpp): 8-bit samples,
// one grey or three YCbCr components without subsampling, the quantisation
// tables scaled by quality as libjpeg scales them, one DC and one AC Huffman
// table of the standard luminance set. Its files are real baseline JFIF
// files; they are not byte-equal to libjpeg's.
#pragma once

#include <cstddef>
#include <vector>

typedef unsigned int JDIMENSION;
typedef unsigned char JSAMPLE;
typedef JSAMPLE* JSAMPROW;
typedef JSAMPROW* JSAMPARRAY;
typedef int boolean;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

enum J_COLOR_SPACE { JCS_UNKNOWN, JCS_GRAYSCALE, JCS_RGB };

struct jpeg_common_struct;
typedef jpeg_common_struct* j_common_ptr;

struct jpeg_error_mgr {
    // Called on a usage error; must not return.
    void (*error_exit)(j_common_ptr info);
};

struct jpeg_common_struct {
    jpeg_error_mgr* err;
};

struct jpeg_compress_struct {
    jpeg_error_mgr* err;
    JDIMENSION image_width;
    JDIMENSION image_height;
    int input_components;
    J_COLOR_SPACE in_color_space;
    JDIMENSION next_scanline;

    // The encoder's own state.
    int quality;
    unsigned char** destination;
    unsigned long* destinationSize;
    std::vector<unsigned char>* samples;
};
typedef jpeg_compress_struct* j_compress_ptr;

jpeg_error_mgr* jpeg_std_error(jpeg_error_mgr* err);
void jpeg_create_compress(j_compress_ptr info);
// The finished file goes into a malloc'd block at *buffer, *size bytes long;
// the caller frees it.
void jpeg_mem_dest(j_compress_ptr info, unsigned char** buffer, unsigned long* size);
void jpeg_set_defaults(j_compress_ptr info);
void jpeg_set_quality(j_compress_ptr info, int quality, boolean forceBaseline);
void jpeg_start_compress(j_compress_ptr info, boolean writeAllTables);
JDIMENSION jpeg_write_scanlines(j_compress_ptr info, JSAMPARRAY rows, JDIMENSION count);
void jpeg_finish_compress(j_compress_ptr info);
void jpeg_destroy_compress(j_compress_ptr info);
