#!/usr/bin/env python3
# Converts the npm package us-atlas's states-10m.json (TopoJSON, lon/lat,
# quantized) into info/US_States.txt, the outlines the net map draws:
#
#   npm pack us-atlas@3.0.1 && tar xzf us-atlas-3.0.1.tgz
#   python3 scripts/us-atlas.py package/states-10m.json > info/US_States.txt
#
# The program projects the outlines itself, with the same code that places
# the stations, so that a station always lands in its state.
import json
import sys

ABBREVIATIONS = {
    '01': 'AL', '02': 'AK', '04': 'AZ', '05': 'AR', '06': 'CA', '08': 'CO', '09': 'CT', '10': 'DE', '11': 'DC',
    '12': 'FL', '13': 'GA', '15': 'HI', '16': 'ID', '17': 'IL', '18': 'IN', '19': 'IA', '20': 'KS', '21': 'KY',
    '22': 'LA', '23': 'ME', '24': 'MD', '25': 'MA', '26': 'MI', '27': 'MN', '28': 'MS', '29': 'MO', '30': 'MT',
    '31': 'NE', '32': 'NV', '33': 'NH', '34': 'NJ', '35': 'NM', '36': 'NY', '37': 'NC', '38': 'ND', '39': 'OH',
    '40': 'OK', '41': 'OR', '42': 'PA', '44': 'RI', '45': 'SC', '46': 'SD', '47': 'TN', '48': 'TX', '49': 'UT',
    '50': 'VT', '51': 'VA', '53': 'WA', '54': 'WV', '55': 'WI', '56': 'WY', '60': 'AS', '66': 'GU', '69': 'MP',
    '72': 'PR', '78': 'VI',
}


def main(path):
    topology = json.load(open(path))
    sx, sy = topology['transform']['scale']
    tx, ty = topology['transform']['translate']
    arcs = []
    for arc in topology['arcs']:
        x = y = 0
        points = []
        for dx, dy in arc:
            x += dx
            y += dy
            points.append((x * sx + tx, y * sy + ty))
        arcs.append(points)

    def ring(indexes):
        points = []
        for index in indexes:
            part = arcs[index] if index >= 0 else list(reversed(arcs[~index]))
            # Arcs share their end points.
            points.extend(part if not points else part[1:])
        return points

    print('# US states, DC and territories: outlines in decimal degrees (lon lat pairs).')
    print('# Source and licence: US_States-SOURCE.txt beside this file.')
    print('# S <FIPS> <abbreviation> <name>; P starts a polygon; R is one ring of it,')
    print('# the outline first, then its holes.')
    geometries = sorted(topology['objects']['states']['geometries'], key=lambda g: g['id'])
    for geometry in geometries:
        print('S %s %s %s' % (geometry['id'], ABBREVIATIONS[geometry['id']], geometry['properties']['name']))
        polygons = geometry['arcs'] if geometry['type'] == 'MultiPolygon' else [geometry['arcs']]
        for polygon in polygons:
            print('P')
            for indexes in polygon:
                print('R ' + ' '.join('%.3f %.3f' % point for point in ring(indexes)))


if __name__ == '__main__':
    main(sys.argv[1])
