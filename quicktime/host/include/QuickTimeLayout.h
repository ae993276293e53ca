// The layout of every record the components and QuickTime exchange, pinned
// field by field. On Win32 the figures are QuickTime's own (2-byte packing,
// 32-bit pointers): a component built against any other layout would read
// the wrong fields of a real QuickTime's records. On 64-bit hosts, which have
// no QuickTime (64-bit Windows included: its build exists to run the suites
// where 32-bit programs cannot run), they are the natural-alignment layout
// that the host library and the components built with it share; pinning it
// keeps the two from drifting, and says nothing about QuickTime.
// ImageDescription and CodecInfo are stored on disk, so they are packed the
// same way everywhere.
#pragma once

#ifdef __cplusplus
#include <cstddef>

#include "ImageCodec.h"

#if defined(_WIN32) && !defined(_WIN64)
#define QT_LAYOUT(win32, lp64) (win32)
#elif defined(__LP64__) || defined(_WIN64)
#define QT_LAYOUT(win32, lp64) (lp64)
#endif

#ifdef QT_LAYOUT
#define QT_SIZE(type, win32, lp64) static_assert(sizeof(type) == QT_LAYOUT(win32, lp64), #type " size")
#define QT_OFFSET(type, field, win32, lp64) \
  static_assert(offsetof(type, field) == QT_LAYOUT(win32, lp64), #type "." #field " offset")

QT_SIZE(PixMap, 50, 64);
QT_OFFSET(PixMap, baseAddr, 0, 0);
QT_OFFSET(PixMap, rowBytes, 4, 8);
QT_OFFSET(PixMap, bounds, 6, 10);
QT_OFFSET(PixMap, pmVersion, 14, 18);
QT_OFFSET(PixMap, packType, 16, 20);
QT_OFFSET(PixMap, packSize, 18, 24);
QT_OFFSET(PixMap, hRes, 22, 28);
QT_OFFSET(PixMap, vRes, 26, 32);
QT_OFFSET(PixMap, pixelType, 30, 36);
QT_OFFSET(PixMap, pixelSize, 32, 38);
QT_OFFSET(PixMap, cmpCount, 34, 40);
QT_OFFSET(PixMap, cmpSize, 36, 42);
QT_OFFSET(PixMap, pixelFormat, 38, 44);
QT_OFFSET(PixMap, pmTable, 42, 48);
QT_OFFSET(PixMap, pmExt, 46, 56);

QT_SIZE(CodecDecompressParams, 286, 416);
QT_OFFSET(CodecDecompressParams, sequenceID, 0, 0);
QT_OFFSET(CodecDecompressParams, imageDescription, 4, 8);
QT_OFFSET(CodecDecompressParams, data, 8, 16);
QT_OFFSET(CodecDecompressParams, bufferSize, 12, 24);
QT_OFFSET(CodecDecompressParams, frameNumber, 16, 28);
QT_OFFSET(CodecDecompressParams, startLine, 20, 32);
QT_OFFSET(CodecDecompressParams, stopLine, 24, 36);
QT_OFFSET(CodecDecompressParams, conditionFlags, 28, 40);
QT_OFFSET(CodecDecompressParams, callerFlags, 32, 44);
QT_OFFSET(CodecDecompressParams, capabilities, 34, 48);
QT_OFFSET(CodecDecompressParams, progressProcRecord, 38, 56);
QT_OFFSET(CodecDecompressParams, completionProcRecord, 46, 72);
QT_OFFSET(CodecDecompressParams, dataProcRecord, 54, 88);
QT_OFFSET(CodecDecompressParams, port, 62, 104);
QT_OFFSET(CodecDecompressParams, dstPixMap, 66, 112);
QT_OFFSET(CodecDecompressParams, maskBits, 116, 176);
QT_OFFSET(CodecDecompressParams, mattePixMap, 120, 184);
QT_OFFSET(CodecDecompressParams, srcRect, 124, 192);
QT_OFFSET(CodecDecompressParams, matrix, 132, 200);
QT_OFFSET(CodecDecompressParams, accuracy, 136, 208);
QT_OFFSET(CodecDecompressParams, transferMode, 140, 212);
QT_OFFSET(CodecDecompressParams, frameTime, 142, 216);
QT_OFFSET(CodecDecompressParams, reserved, 146, 224);
QT_OFFSET(CodecDecompressParams, matrixFlags, 150, 228);
QT_OFFSET(CodecDecompressParams, matrixType, 151, 229);
QT_OFFSET(CodecDecompressParams, dstRect, 152, 230);
QT_OFFSET(CodecDecompressParams, majorSourceChangeSeed, 160, 238);
QT_OFFSET(CodecDecompressParams, minorSourceChangeSeed, 162, 240);
QT_OFFSET(CodecDecompressParams, sourceData, 164, 248);
QT_OFFSET(CodecDecompressParams, maskRegion, 168, 256);
QT_OFFSET(CodecDecompressParams, wantedDestinationPixelTypes, 172, 264);
QT_OFFSET(CodecDecompressParams, screenFloodMethod, 176, 272);
QT_OFFSET(CodecDecompressParams, screenFloodValue, 180, 276);
QT_OFFSET(CodecDecompressParams, preferredOffscreenPixelSize, 184, 280);
QT_OFFSET(CodecDecompressParams, syncFrameTime, 186, 288);
QT_OFFSET(CodecDecompressParams, needUpdateOnTimeChange, 190, 296);
QT_OFFSET(CodecDecompressParams, enableBlackLining, 191, 297);
QT_OFFSET(CodecDecompressParams, needUpdateOnSourceChange, 192, 298);
QT_OFFSET(CodecDecompressParams, pad, 193, 299);
QT_OFFSET(CodecDecompressParams, unused, 194, 300);
QT_OFFSET(CodecDecompressParams, finalDestinationPort, 198, 304);
QT_OFFSET(CodecDecompressParams, requestedBufferWidth, 202, 312);
QT_OFFSET(CodecDecompressParams, requestedBufferHeight, 206, 316);
QT_OFFSET(CodecDecompressParams, displayableAreaOfRequestedBuffer, 210, 320);
QT_OFFSET(CodecDecompressParams, requestedSingleField, 218, 328);
QT_OFFSET(CodecDecompressParams, needUpdateOnNextIdle, 219, 329);
QT_OFFSET(CodecDecompressParams, pad2, 220, 330);
QT_OFFSET(CodecDecompressParams, bufferGammaLevel, 222, 332);
QT_OFFSET(CodecDecompressParams, taskWeight, 226, 336);
QT_OFFSET(CodecDecompressParams, taskName, 230, 340);
QT_OFFSET(CodecDecompressParams, pad3, 234, 344);
QT_OFFSET(CodecDecompressParams, destinationBufferMemoryPreference, 235, 345);
QT_OFFSET(CodecDecompressParams, codecBufferMemoryPreference, 236, 346);
QT_OFFSET(CodecDecompressParams, onlyUseCodecIfItIsInUserPreferredCodecList, 237, 347);
QT_OFFSET(CodecDecompressParams, mediaContextID, 238, 348);
QT_OFFSET(CodecDecompressParams, deinterlaceRequest, 254, 364);
QT_OFFSET(CodecDecompressParams, deinterlaceAnswer, 255, 365);
QT_OFFSET(CodecDecompressParams, pad4, 256, 366);
QT_OFFSET(CodecDecompressParams, reserved2, 258, 368);
QT_OFFSET(CodecDecompressParams, reserved3, 262, 372);
QT_OFFSET(CodecDecompressParams, reserved4, 266, 376);
QT_OFFSET(CodecDecompressParams, reserved5, 270, 384);
QT_OFFSET(CodecDecompressParams, reserved6, 274, 392);
QT_OFFSET(CodecDecompressParams, reserved7, 278, 400);
QT_OFFSET(CodecDecompressParams, reserved8, 282, 408);

QT_SIZE(ImageSubCodecDecompressCapabilities, 32, 32);

QT_SIZE(ImageSubCodecDecompressRecord, 64, 112);
QT_OFFSET(ImageSubCodecDecompressRecord, baseAddr, 0, 0);
QT_OFFSET(ImageSubCodecDecompressRecord, rowBytes, 4, 8);
QT_OFFSET(ImageSubCodecDecompressRecord, codecData, 8, 16);
QT_OFFSET(ImageSubCodecDecompressRecord, progressProcRecord, 12, 24);
QT_OFFSET(ImageSubCodecDecompressRecord, dataProcRecord, 20, 40);
QT_OFFSET(ImageSubCodecDecompressRecord, userDecompressRecord, 28, 56);
QT_OFFSET(ImageSubCodecDecompressRecord, frameType, 32, 64);
QT_OFFSET(ImageSubCodecDecompressRecord, inhibitMP, 33, 65);
QT_OFFSET(ImageSubCodecDecompressRecord, pad, 34, 66);
QT_OFFSET(ImageSubCodecDecompressRecord, priv, 36, 68);
QT_OFFSET(ImageSubCodecDecompressRecord, drawBandCompleteUPP, 44, 80);
QT_OFFSET(ImageSubCodecDecompressRecord, drawBandCompleteRefCon, 48, 88);
QT_OFFSET(ImageSubCodecDecompressRecord, reserved1, 52, 96);
QT_OFFSET(ImageSubCodecDecompressRecord, reserved2, 56, 104);
QT_OFFSET(ImageSubCodecDecompressRecord, reserved3, 60, 108);

QT_SIZE(EventRecord, 16, 20);
QT_OFFSET(EventRecord, message, 2, 4);
QT_OFFSET(EventRecord, when, 6, 8);
QT_OFFSET(EventRecord, where, 10, 12);
QT_OFFSET(EventRecord, modifiers, 14, 16);

QT_SIZE(ComponentParameters, 8, 16);
QT_OFFSET(ComponentParameters, params, 4, 8);

QT_SIZE(ICMDataProcRecord, 8, 16);

QT_SIZE(CodecCapabilities, 24, 24);

QT_SIZE(ComponentDescription, 20, 20);

QT_SIZE(ImageDescription, 86, 86);
QT_OFFSET(ImageDescription, idSize, 0, 0);
QT_OFFSET(ImageDescription, cType, 4, 4);
QT_OFFSET(ImageDescription, resvd1, 8, 8);
QT_OFFSET(ImageDescription, resvd2, 12, 12);
QT_OFFSET(ImageDescription, dataRefIndex, 14, 14);
QT_OFFSET(ImageDescription, version, 16, 16);
QT_OFFSET(ImageDescription, revisionLevel, 18, 18);
QT_OFFSET(ImageDescription, vendor, 20, 20);
QT_OFFSET(ImageDescription, temporalQuality, 24, 24);
QT_OFFSET(ImageDescription, spatialQuality, 28, 28);
QT_OFFSET(ImageDescription, width, 32, 32);
QT_OFFSET(ImageDescription, height, 34, 34);
QT_OFFSET(ImageDescription, hRes, 36, 36);
QT_OFFSET(ImageDescription, vRes, 40, 40);
QT_OFFSET(ImageDescription, dataSize, 44, 44);
QT_OFFSET(ImageDescription, frameCount, 48, 48);
QT_OFFSET(ImageDescription, name, 50, 50);
QT_OFFSET(ImageDescription, depth, 82, 82);
QT_OFFSET(ImageDescription, clutID, 84, 84);

QT_SIZE(CodecInfo, 72, 72);
QT_OFFSET(CodecInfo, typeName, 0, 0);
QT_OFFSET(CodecInfo, version, 32, 32);
QT_OFFSET(CodecInfo, revisionLevel, 34, 34);
QT_OFFSET(CodecInfo, vendor, 36, 36);
QT_OFFSET(CodecInfo, decompressFlags, 40, 40);
QT_OFFSET(CodecInfo, compressFlags, 44, 44);
QT_OFFSET(CodecInfo, formatFlags, 48, 48);
QT_OFFSET(CodecInfo, compressionAccuracy, 52, 52);
QT_OFFSET(CodecInfo, decompressionAccuracy, 53, 53);
QT_OFFSET(CodecInfo, compressionSpeed, 54, 54);
QT_OFFSET(CodecInfo, decompressionSpeed, 56, 56);
QT_OFFSET(CodecInfo, compressionLevel, 58, 58);
QT_OFFSET(CodecInfo, resvd, 59, 59);
QT_OFFSET(CodecInfo, minimumHeight, 60, 60);
QT_OFFSET(CodecInfo, minimumWidth, 62, 62);
QT_OFFSET(CodecInfo, decompressPipelineLatency, 64, 64);
QT_OFFSET(CodecInfo, compressPipelineLatency, 66, 66);
QT_OFFSET(CodecInfo, privateData, 68, 68);

QT_OFFSET(CodecCapabilities, flags, 0, 0);
QT_OFFSET(CodecCapabilities, wantedPixelSize, 4, 4);
QT_OFFSET(CodecCapabilities, extendWidth, 6, 6);
QT_OFFSET(CodecCapabilities, extendHeight, 8, 8);
QT_OFFSET(CodecCapabilities, bandMin, 10, 10);
QT_OFFSET(CodecCapabilities, bandInc, 12, 12);
QT_OFFSET(CodecCapabilities, pad, 14, 14);
QT_OFFSET(CodecCapabilities, time, 16, 16);
QT_OFFSET(CodecCapabilities, flags2, 20, 20);

QT_OFFSET(ImageSubCodecDecompressCapabilities, recordSize, 0, 0);
QT_OFFSET(ImageSubCodecDecompressCapabilities, decompressRecordSize, 4, 4);
QT_OFFSET(ImageSubCodecDecompressCapabilities, canAsync, 8, 8);
QT_OFFSET(ImageSubCodecDecompressCapabilities, suggestedQueueSize, 10, 10);
QT_OFFSET(ImageSubCodecDecompressCapabilities, canProvideTrigger, 12, 12);
QT_OFFSET(ImageSubCodecDecompressCapabilities, subCodecFlushesScreen, 13, 13);
QT_OFFSET(ImageSubCodecDecompressCapabilities, subCodecCallsDrawBandComplete, 14, 14);
QT_OFFSET(ImageSubCodecDecompressCapabilities, isChildCodec, 16, 16);
QT_OFFSET(ImageSubCodecDecompressCapabilities, subCodecIsMultiBufferAware, 19, 19);
QT_OFFSET(ImageSubCodecDecompressCapabilities, subCodecSupportsOutOfOrderDisplayTimes, 20, 20);
QT_OFFSET(ImageSubCodecDecompressCapabilities, baseCodecShouldCallDecodeBandForAllFrames, 23, 23);
QT_OFFSET(ImageSubCodecDecompressCapabilities, subCodecSupportsDrawInDecodeOrder, 26, 26);
QT_OFFSET(ImageSubCodecDecompressCapabilities, subCodecSupportsDecodeSmoothing, 27, 27);

QT_OFFSET(ComponentDescription, componentType, 0, 0);
QT_OFFSET(ComponentDescription, componentSubType, 4, 4);
QT_OFFSET(ComponentDescription, componentManufacturer, 8, 8);
QT_OFFSET(ComponentDescription, componentFlags, 12, 12);
QT_OFFSET(ComponentDescription, componentFlagsMask, 16, 16);

QT_SIZE(Rect, 8, 8);
QT_OFFSET(Rect, top, 0, 0);
QT_OFFSET(Rect, left, 2, 2);
QT_OFFSET(Rect, bottom, 4, 4);
QT_OFFSET(Rect, right, 6, 6);

QT_SIZE(Point, 4, 4);
QT_OFFSET(Point, v, 0, 0);
QT_OFFSET(Point, h, 2, 2);

#undef QT_SIZE
#undef QT_OFFSET
#undef QT_LAYOUT
#endif  // QT_LAYOUT
#endif  // __cplusplus
