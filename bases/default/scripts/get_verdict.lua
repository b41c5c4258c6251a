-- GetVerdict()
--
-- The session's verdict: a list holding the service index of the tracking
-- service concerned (empty when there is none) and one of the VERDICT_
-- values.

local function MakeGetVerdict()
  local policy = DntEngine.Require("TrackingPolicy")

  return function()
    local service, verdict = policy.Verdict()
    if service == nil then
      return {}, DntEngine.VERDICT_NOT_DETECTED
    end
    return { service }, verdict
  end
end

return "GetVerdict", MakeGetVerdict
