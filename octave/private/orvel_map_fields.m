function fields = orvel_map_fields(map, columns)
%ORVEL_MAP_FIELDS  A field map as a struct: one field of the map's column k per name columns{k}.
fields = struct();
for k = 1:numel(columns)
  fields.(lower(columns{k})) = map(:, k);
end
end
