/* The least a converter can do, as a yardstick for what a second core can
 * give on a machine: per file, map the input, make the whole image in memory
 * (BMP: copy its pixels; JPEG: decode with libjpeg), make the output (BMP:
 * the same bytes; JPEG: encode at quality 85) and write it to a new file.
 *
 *   floor bmp|jpg OUTDIR FILE...
 */
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
/* after stdio.h: jpeglib.h uses FILE and size_t */
#include <jpeglib.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static unsigned char* image;
static size_t capacity;

static unsigned char* room(size_t n) {
    if (n > capacity) {
        free(image);
        image = malloc(n);
        capacity = image ? n : 0;
        if (!image) exit(1);
    }
    return image;
}

static int write_file(const char* path, const unsigned char* p, size_t n) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return -1;
    while (n) {
        const ssize_t k = write(fd, p, n);
        if (k <= 0) {
            close(fd);
            return -1;
        }
        p += k, n -= (size_t)k;
    }
    return close(fd);
}

static int jpeg(const unsigned char* in, size_t size, const char* out) {
    struct jpeg_decompress_struct d;
    struct jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, in, size);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const size_t stride = (size_t)d.output_width * 3;
    unsigned char* px = room(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
        unsigned char* row = px + stride * d.output_scanline;
        jpeg_read_scanlines(&d, &row, 1);
    }
    struct jpeg_compress_struct c;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* bytes = NULL;
    unsigned long length = 0;
    jpeg_mem_dest(&c, &bytes, &length);
    c.image_width = d.output_width, c.image_height = d.output_height;
    c.input_components = 3, c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        unsigned char* row = px + stride * c.next_scanline;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    const int r = write_file(out, bytes, length);
    jpeg_destroy_compress(&c);
    free(bytes);
    return r;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int isJpeg = strcmp(argv[1], "jpg") == 0;
    for (int i = 3; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) return 1;
        const size_t size = (size_t)st.st_size;
        unsigned char* in = mmap(NULL, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        close(fd);
        if (in == MAP_FAILED) return 1;
        const char* base = strrchr(argv[i], '/');
        char out[4096];
        snprintf(out, sizeof out, "%s/%s", argv[2], base ? base + 1 : argv[i]);
        int r;
        if (isJpeg) {
            r = jpeg(in, size, out);
        } else {
            memcpy(room(size), in, size);
            r = write_file(out, image, size);
        }
        munmap(in, size);
        if (r != 0) return 1;
    }
    return 0;
}
