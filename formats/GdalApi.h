#pragma once

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <string>

// GDAL's C API as this folder calls it: a table of the functions, filled from the library when it
// is first needed rather than by the program's loader. GDAL and the hundred libraries it links
// take tens of milliseconds to load, which every run of the calculator would pay, most of them
// reading and writing only DSAA grids, shapefiles and text. Calls go through gdal().Name(...);
// the folder is not linked with GDAL, so a direct call does not link.
namespace vellumar::formats::detail {

// Every GDAL function the folder calls.
#define VELLUMAR_GDAL_FUNCTIONS(X) \
  X(CPLGetConfigOption)            \
  X(CPLGetErrorHandlerUserData)    \
  X(CPLGetThreadLocalConfigOption) \
  X(CPLPopErrorHandler)            \
  X(CPLPushErrorHandlerEx)         \
  X(CPLSetThreadLocalConfigOption) \
  X(GDALAllRegister)               \
  X(GDALClose)                     \
  X(GDALCopyWords)                 \
  X(GDALCopyWords64)               \
  X(GDALCreate)                    \
  X(GDALCreateCopy)                \
  X(GDALDataTypeIsFloating)        \
  X(GDALDataTypeIsInteger)         \
  X(GDALDataTypeIsSigned)          \
  X(GDALDatasetCommitTransaction)  \
  X(GDALDatasetCreateLayer)        \
  X(GDALDatasetGetLayer)           \
  X(GDALDatasetGetLayerByName)     \
  X(GDALDatasetGetLayerCount)      \
  X(GDALDatasetStartTransaction)   \
  X(GDALGetBlockSize)              \
  X(GDALGetDataTypeByName)         \
  X(GDALGetDataTypeName)           \
  X(GDALGetDataTypeSizeBits)       \
  X(GDALGetDataTypeSizeBytes)      \
  X(GDALGetDriverByName)           \
  X(GDALGetDriverShortName)        \
  X(GDALGetGeoTransform)           \
  X(GDALGetMetadata)               \
  X(GDALGetMetadataItem)           \
  X(GDALGetProjectionRef)          \
  X(GDALGetRasterBand)             \
  X(GDALGetRasterBandXSize)        \
  X(GDALGetRasterBandYSize)        \
  X(GDALGetRasterCount)            \
  X(GDALGetRasterDataType)         \
  X(GDALGetRasterNoDataValue)      \
  X(GDALGetRasterXSize)            \
  X(GDALGetRasterYSize)            \
  X(GDALIdentifyDriverEx)          \
  X(GDALOpenEx)                    \
  X(GDALRasterIOEx)                \
  X(GDALReadBlock)                 \
  X(GDALSetCacheMax64)             \
  X(GDALSetGeoTransform)           \
  X(GDALSetProjection)             \
  X(GDALSetRasterNoDataValue)      \
  X(GDALWriteBlock)                \
  X(OGRGeometryTypeToName)         \
  X(OGR_FD_GetFieldCount)          \
  X(OGR_FD_GetFieldDefn)           \
  X(OGR_F_Create)                  \
  X(OGR_F_Destroy)                 \
  X(OGR_F_GetFieldAsDateTimeEx)    \
  X(OGR_F_GetFieldAsDouble)        \
  X(OGR_F_GetFieldAsInteger)       \
  X(OGR_F_GetFieldAsString)        \
  X(OGR_F_GetGeometryRef)          \
  X(OGR_F_IsFieldSetAndNotNull)    \
  X(OGR_F_SetFieldDouble)          \
  X(OGR_F_SetFieldInteger)         \
  X(OGR_F_SetFieldNull)            \
  X(OGR_F_SetFieldString)          \
  X(OGR_F_SetGeometryDirectly)     \
  X(OGR_Fld_Create)                \
  X(OGR_Fld_Destroy)               \
  X(OGR_Fld_GetNameRef)            \
  X(OGR_Fld_GetPrecision)          \
  X(OGR_Fld_GetSubType)            \
  X(OGR_Fld_GetType)               \
  X(OGR_Fld_GetWidth)              \
  X(OGR_Fld_SetSubType)            \
  X(OGR_Fld_SetWidth)              \
  X(OGR_GT_Flatten)                \
  X(OGR_G_AddGeometryDirectly)     \
  X(OGR_G_CreateGeometry)          \
  X(OGR_G_DestroyGeometry)         \
  X(OGR_G_ForceToMultiPolygon)     \
  X(OGR_G_GetGeometryCount)        \
  X(OGR_G_GetGeometryRef)          \
  X(OGR_G_GetGeometryType)         \
  X(OGR_G_GetLinearGeometry)       \
  X(OGR_G_GetPointCount)           \
  X(OGR_G_GetPoints)               \
  X(OGR_G_GetX)                    \
  X(OGR_G_GetY)                    \
  X(OGR_G_HasCurveGeometry)        \
  X(OGR_G_Is3D)                    \
  X(OGR_G_IsEmpty)                 \
  X(OGR_G_IsMeasured)              \
  X(OGR_G_SetPoint_2D)             \
  X(OGR_G_SetPoints)               \
  X(OGR_L_CreateFeature)           \
  X(OGR_L_CreateField)             \
  X(OGR_L_GetFeatureCount)         \
  X(OGR_L_GetLayerDefn)            \
  X(OGR_L_GetName)                 \
  X(OGR_L_GetNextFeature)          \
  X(OGR_L_GetSpatialRef)           \
  X(OGR_L_ResetReading)            \
  X(OSRExportToWkt)                \
  X(OSRDestroySpatialReference)    \
  X(OSRExportToWktEx)              \
  X(OSRFindMatches)                \
  X(OSRFreeSRSArray)               \
  X(OSRGetAuthorityCode)           \
  X(OSRGetAuthorityName)           \
  X(OSRGetName)                    \
  X(OSRIsGeographic)               \
  X(OSRIsSame)                     \
  X(OSRNewSpatialReference)        \
  X(OSRSetAxisMappingStrategy)     \
  X(OSRSetFromUserInput)           \
  X(VSIFCloseL)                    \
  X(VSIFileFromMemBuffer)          \
  X(VSIFree)                       \
  X(VSIUnlink)

struct GdalApi {
#define VELLUMAR_GDAL_POINTER(name) decltype(&::name) name = nullptr;
  VELLUMAR_GDAL_FUNCTIONS(VELLUMAR_GDAL_POINTER)
#undef VELLUMAR_GDAL_POINTER
};

// Loads GDAL on first use, from any thread; true when every function of the table was found.
bool loadGdal();
// Why loadGdal failed; empty when it did not.
const std::string& gdalLoadError();
// The table; only for a caller after loadGdal() returned true.
const GdalApi& gdal();

}  // namespace vellumar::formats::detail
