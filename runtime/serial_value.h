// Items of the engine's file formats, one value at a time, to and from a
// stream or a bounded memory cursor: raw byte runs, or 1-, 2-, 4- and
// 8-byte values stored big-endian unless the host's order is asked for.
#pragma once
#include <cstddef>
#include <cstdint>

struct vlStream;

// Memory cursors: the next byte and the end of the buffer. Neither reads
// nor writes go past the end.
struct vlWriteCursor {
  uint8_t* next;
  uint8_t* end;
};
struct vlReadCursor {
  const uint8_t* next;
  const uint8_t* end;
};

// The dos library's I/O mode (0 buffered, the default; 1 unbuffered); every
// item read and write consults it.
enum : uint32_t { VL_IO_BUFFERED = 0, VL_IO_UNBUFFERED = 1 };
extern uint32_t vlSerialIOMode;

// With raw set, size bytes are copied as they are. Otherwise size is 1, 2,
// 4 or 8 and buffer holds the value in the host's form (an 8-byte value may
// be a double); it is stored most significant byte first unless hostOrder
// is set. With a null stream the cursor is used. 0, or 1009 for a short
// read (a cursor: too few bytes left; nothing is then consumed), 1005 for
// a short write (a cursor: too little room), 1055 for another size.
int ReadSerialValue(vlStream* stream, void* buffer, int raw, size_t size, int hostOrder, vlReadCursor* cursor);
int WriteSerialValue(vlStream* stream, const void* buffer, int raw, size_t size, int hostOrder,
                     vlWriteCursor* cursor);
