/* heif_floor IN.heic OUT.jpg [QUALITY]
 *
 * The least work a HEIC to JPEG conversion can do with these libraries: libheif decodes the
 * primary image straight to interleaved 8-bit RGB, libjpeg-turbo encodes it with its default
 * settings (4:2:0, no optimised Huffman tables) at QUALITY (default 90) and the file is
 * written. bench/photo_formats.sh runs one process per core over a folder and takes the wall
 * time as the floor the batch is measured against. It is a standalone C program rather than
 * one of the C++ bench tools so that nothing of the engine is linked in: what it measures is
 * the libraries alone.
 */
/* jpeglib.h needs FILE declared before it. */
#include <stdio.h>
#include <stdlib.h>

#include <jpeglib.h>
#include <libheif/heif.h>

static int heif_failed(struct heif_error err, const char *what, const char *path)
{
    if (err.code == heif_error_Ok)
        return 0;
    fprintf(stderr, "heif_floor: %s: %s: %s\n", path, what, err.message ? err.message : "error");
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: heif_floor IN.heic OUT.jpg [QUALITY]\n");
        return 2;
    }
    const char *in = argv[1];
    const char *out = argv[2];
    const int quality = argc == 4 ? atoi(argv[3]) : 90;
    if (quality < 1 || quality > 100) {
        fprintf(stderr, "heif_floor: quality must be 1 to 100\n");
        return 2;
    }

    struct heif_context *ctx = heif_context_alloc();
    struct heif_image_handle *handle = NULL;
    struct heif_image *img = NULL;
    int rc = 1;
    if (!ctx) {
        fprintf(stderr, "heif_floor: out of memory\n");
        return 1;
    }
    if (heif_failed(heif_context_read_from_file(ctx, in, NULL), "read", in))
        goto done;
    if (heif_failed(heif_context_get_primary_image_handle(ctx, &handle), "primary image", in))
        goto done;
    if (heif_failed(heif_decode_image(handle, &img, heif_colorspace_RGB,
                                      heif_chroma_interleaved_RGB, NULL),
                    "decode", in))
        goto done;

    int stride = 0;
    const uint8_t *pixels = heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(img, heif_channel_interleaved);
    const int height = heif_image_get_height(img, heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0 || stride < width * 3) {
        fprintf(stderr, "heif_floor: %s: no interleaved RGB plane\n", in);
        goto done;
    }

    FILE *f = fopen(out, "wb");
    if (!f) {
        perror(out);
        goto done;
    }
    struct jpeg_compress_struct cinfo;
    struct jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr); /* a libjpeg error exits the process: fine for a bench */
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = (JDIMENSION)width;
    cinfo.image_height = (JDIMENSION)height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)(pixels + (size_t)cinfo.next_scanline * (size_t)stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    /* A short write (full disk) must not pass as a finished file. */
    if (ferror(f) | fclose(f)) {
        fprintf(stderr, "heif_floor: %s: write failed\n", out);
        goto done;
    }
    rc = 0;

done:
    if (img)
        heif_image_release(img);
    if (handle)
        heif_image_handle_release(handle);
    heif_context_free(ctx);
    return rc;
}
