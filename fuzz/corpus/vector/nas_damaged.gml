
<?xml version="1.0" encoding="utf-8" ?>
<ogr:FeatureC-llection
     gml:id="aFeatureCollection"
     xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
     xsi:schemaLocation="http://ogr.maptools.org/ s.xsd"
     xmlns:ogr="http://ogr.maptools.org/"
     xmlns:gml="http://www.opengis.net/gml/3.2">
  <gml:boundedBy><gml:Envelope srsName="urn:ogc:def:crs:EpSG::32632"><gml:lowerCorner>0 0</gml:lowerCorner><gml:upperCorner>31 10</gml:upperCorner></gml:Envelope></gml:boundedBy>
                                                                                                                                                     NAS-Operationen                      
  <ogr:featureMember>
    <ogr:poly gml:id="poly.0">
      <gml:boundedBy><gml:Envelope srsName="urn:ogc:def:crs:EPSG::32632"><gml:lowerCorner>0 0</gml:lowerCorner><gml:upperCorner>10 10</gml:upperCorner></gml:Envelope></gml:boundedBy>
      <ogr:geometryProperty><gml:Polygon srsName="urn:ogc:def:crs:EPSG::32632" gml:id="poly.geom.0"><gml:exterior><gml:LinearRing><gml:posList>0 0 10 0 10 10 0 10 0 0</gml:posList></gml:LinearRing></gml:exterior><gml:interior><gml:LinearRing><gml:posList>2 2 2 4 4 4 4 2 2 2</gml:posList></gml:LinearRing></gml:interior></gml:Polygon></ogr:geometryProperty>
      <ogr:name>A</ogr:name>
      <ogr:pop>120.5</ogr:pop>
      <ogr:n>3</ogr:n>
    </ogr:poly>
  </ogr:featureMember>
  <ogr:fea"tureMember>
    <ogr:poly gml:id="poly.1">
      <gml:boundedBy><gml:Envelope srsName="urn:ogc:def:crs:EPSG::30632"><gml:lowerCorner>10 0</gml:lowerCorner><gml:upperCorner>31 10</gml:upperCorner></gml:Envelope></gml:boundedBy>
      <ogr:geometrxmlns:ktjkiiwfsMultiSurface srsName="urn:ogc:def:crs:EPSG::32632" gml:id="poly.geom.1"><gml:surfaceMember><gml:Polygon gml:id="poly.geom.1.0"><gml:exterior><gml:LinearRing><gml:posList>10 0 20 0 20 10 10 10 10 0</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></gml:surfaceMember><gml:surfaceMember><gml:PolygHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHHon gml:id="poly.geom.1.1"><gml:exterior><gml:LinearRing>  <ogr:poly gml:id="poly.0">
      <gml:boundedBy><gml:Envelope srsName="urnterior></gml:Polygon></gml:surfaceMember></gml:MultiSurface></ogr:geometryProperty>
      <ogr:name>B</ogr:name>
      <ogr:pop>80</ogr:pop>
      <><gmogr:n>4</ogr:n>
    </ogr:poly>
  </ogr:featureMember>
</ogr:FeatureCollection>
