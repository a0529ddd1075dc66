#pragma once

#include "reader/readerprotocol.h"

class PageBytes;

// What the page reader does with a request: the page parsed as far as the dashboard's
// elements need (the whole page when asked), read, and the reading capped for its answer.
// page: the request's page, taken in only as far as the reading needs (request.page is not
// used).
readerprotocol::Answer readPage(const readerprotocol::Request &request, PageBytes &page);
// The same for a request that holds its page.
readerprotocol::Answer readPage(const readerprotocol::Request &request);

// Does now what the first readings would do lazily and could not do in the sandbox, where no
// file can be opened: builds every decoder's tables, opens the C library's converters and
// reads a built-in page once.
void prepareReading();
