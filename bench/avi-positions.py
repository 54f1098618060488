#!/usr/bin/env python3
"""Prints how many positions the video stream of an AVI file has: the entries of its index, a
picture or an empty entry (an unchanged or late position) each. Readers that count packets skip
the empty ones, and the header's length is what the writer says rather than what the index holds.

    avi-positions.py FILE

The standard indexes (ix##) that the video stream's OpenDML super index lists are counted when it
has one, else idx1 (a file of one segment).
"""
import struct
import sys


def chunks(f, start, end):
    """(fourcc, data offset, size, list type or None) of the chunks between start and end."""
    at = start
    while at + 8 <= end:
        f.seek(at)
        head = f.read(12)
        if len(head) < 8:
            return
        cc, size = head[:4], struct.unpack('<I', head[4:8])[0]
        yield cc, at + 8, size, head[8:12] if cc in (b'RIFF', b'LIST') else None
        at += 8 + size + (size & 1)


def main(path):
    with open(path, 'rb') as f:
        f.seek(0, 2)
        file_end = f.tell()
        video, standard_indexes, idx1 = None, [], None
        for cc, data, size, kind in chunks(f, 0, file_end):
            if cc != b'RIFF':
                continue
            stream = 0
            for cc2, data2, size2, kind2 in chunks(f, data + 4, data + size):
                if cc2 == b'LIST' and kind2 == b'hdrl':
                    for cc3, data3, size3, kind3 in chunks(f, data2 + 4, data2 + size2):
                        if cc3 != b'LIST' or kind3 != b'strl':
                            continue
                        is_video = False
                        for cc4, data4, size4, _ in chunks(f, data3 + 4, data3 + size3):
                            f.seek(data4)
                            if cc4 == b'strh' and f.read(8)[:4] == b'vids' and video is None:
                                video, is_video = b'%02d' % stream, True
                            elif cc4 == b'indx' and is_video:
                                # The super index: the standard indexes (ix##) in use.
                                _, _, _, in_use = struct.unpack('<HBBI', f.read(8))
                                f.seek(data4 + 24)
                                for _ in range(in_use):
                                    standard_indexes.append(struct.unpack('<QII', f.read(16))[0])
                        stream += 1
                elif cc2 == b'idx1':
                    idx1 = (data2, size2)
        if video is None:
            sys.exit('%s: no video stream' % path)
        if standard_indexes:
            total = 0
            for at in standard_indexes:
                f.seek(at + 8)
                total += struct.unpack('<HBBI', f.read(8))[3]
            print(total)
            return
        if idx1 is None:
            sys.exit('%s: no index' % path)
        f.seek(idx1[0])
        table = f.read(idx1[1])
        print(sum(1 for i in range(0, len(table) - 15, 16) if table[i:i + 2] == video))


if __name__ == '__main__':
    if len(sys.argv) != 2:
        sys.exit('usage: avi-positions.py FILE')
    main(sys.argv[1])
