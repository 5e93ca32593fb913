// Escaping of URI text.
#ifndef CRAWLPEEK_EXTRA_URI_H_
#define CRAWLPEEK_EXTRA_URI_H_

// Writes src into dst with every byte from 0x80 up and every one of
// "% +=?#:&*\"'<>;" and tab, CR, LF as '%' and two lower-case hex digits;
// other bytes (the slash included) are copied. dst must hold
// 3 * strlen(src) + 1 bytes; when null it is allocated (malloc) for the
// caller to free. Returns dst, or null when it cannot be allocated.
char *libvel_uri_escape(char *dst, const char *src);

// Decodes every '%' followed by two characters into the byte they give, in
// place; '%' with fewer than two characters after it, and '+', stay as they
// are. The two characters are not checked to be hex digits.
void libvel_uri_unescape(char *text);

#endif  // CRAWLPEEK_EXTRA_URI_H_
