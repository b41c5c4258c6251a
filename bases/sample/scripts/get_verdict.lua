-- GetVerdict(): the tracking service of the session, if any, and what was
-- done about it.

local function GetVerdict()
  local session = DntSession
  if session == nil or session.service == nil then
    return {}, DntEngine.VERDICT_NOT_DETECTED
  end
  return {session.service}, session.verdict
end

return function()
  return "GetVerdict"
end, function()
  return GetVerdict
end
